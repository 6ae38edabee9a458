#include <gtest/gtest.h>

#include "Banco.h"
#include "export/EsportaXML.h"

namespace tarvel {
namespace {

std::string lines(std::initializer_list<const char*> ls) {
    std::string out;
    for (const char* l : ls) out += std::string(l) + "\r\n";
    return out;
}

using test::Documento;

struct Uscita {
    fakes::FakeProfileStore ini;
    fakes::FakeOutputFiles files;
    fakes::FakeClock clock;
    ContestoEsportazione ctx{[this](const std::string& s, const std::string& k,
                                    const std::string& d) { return ini.read("", s, k, d); },
                             files, clock, "/opt/tarvel"};
    EsitoEsportazione esporta(const std::vector<std::string>& risposte) {
        return EsportaXML(risposte, ctx);
    }
};

TEST(Export, SingleFileWorkedExample) {
    Uscita u;
    auto esito = u.esporta({"Serial_1", "<Vac>230.1</Vac>", "<Pac>1520</Pac>", "%Next device",
                            "#Sleep 500", "<Vac>229.8</Vac>", "<Pac></Pac>"});
    EXPECT_EQ(esito.scritti, std::vector<std::string>{"/opt/tarvel/NoName.xml"});
    EXPECT_EQ(u.files.files["/opt/tarvel/NoName.xml"],
              lines({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "  <Dispositivi>", "",
                     "    <Dispositivo>", "      <Vac>230.1</Vac>", "      <Pac>1520</Pac>",
                     "    </Dispositivo>", "", "    <Dispositivo>", "      <Vac>229.8</Vac>",
                     "      <Pac></Pac>", "    </Dispositivo>", "", "  </Dispositivi>"}));
}

// With a profile that has its own file, each profile line starts a file: a
// profile without "Out" writes NoName.xml, a profile that comes twice keeps
// only its last part, and the answers before the first profile line go to
// the general file. Relative names are in the program folder.
TEST(Export, OneFilePerProfileWorkedExample) {
    Uscita u;
    u.ini.set("Serial_1", "Out", "/data/linea1.xml");
    u.esporta({"Serial_1", "<Vac>230.1</Vac>", "%Next device", "<Vac>229.8</Vac>", "Serial_2",
               "<Vac>231.0</Vac>"});
    EXPECT_EQ(u.files.files["/data/linea1.xml"],
              Documento({{"<Vac>230.1</Vac>"}, {"<Vac>229.8</Vac>"}}));
    EXPECT_EQ(u.files.files["/opt/tarvel/NoName.xml"], Documento({{"<Vac>231.0</Vac>"}}));
    EXPECT_EQ(u.files.files.size(), 2u);

    Uscita v;
    v.ini.set("Serial_1", "Out", "linee/../linea1.xml");
    v.ini.set("Export", "Out", "generale.xml");
    v.esporta({"<Impianto>Roof A</Impianto>", "Serial_1", "<Parte>prima</Parte>", "Serial_2",
               "<Vac>231.0</Vac>", "Serial_1", "<Parte>seconda</Parte>"});
    EXPECT_EQ(v.files.files,
              (std::map<std::string, std::string>{
                  {"/opt/tarvel/generale.xml", Documento({{"<Impianto>Roof A</Impianto>"}})},
                  {"/opt/tarvel/linee/../linea1.xml", Documento({{"<Parte>seconda</Parte>"}})},
                  {"/opt/tarvel/NoName.xml", Documento({{"<Vac>231.0</Vac>"}})}}));
}

TEST(Export, EncodingLabelAndSeparators) {
    Uscita u;
    u.ini.set("XML", "Encoding", "ISO-8859-1");
    u.ini.set("Export", "Out", "");
    // A profile line after only skipped lines still opens a new device.
    u.esporta({"#Sleep 5", "Serial_1", "Serial_2", "<V>\xE8</V>"});
    EXPECT_EQ(u.files.files["/opt/tarvel/NoName.xml"],
              Documento({{}, {}, {"<V>\xE8</V>"}}, "ISO-8859-1"));
}

TEST(Export, KillDeletesFirstAndPauses) {
    using K = std::pair<const char*, bool>;
    for (const auto& [kill, kills] :
         {K{"1", true}, K{"yes", true}, K{"2", true}, K{"0", false}, K{"", false}}) {
        SCOPED_TRACE(kill);
        Uscita u;
        u.ini.set("Export", "Kill", kill);
        u.files.files["/opt/tarvel/NoName.xml"] = "old";
        u.esporta({"<A>1</A>"});
        std::vector<std::string> log{"write /opt/tarvel/NoName.xml"};
        if (kills) log.insert(log.begin(), "remove /opt/tarvel/NoName.xml");
        EXPECT_EQ(u.files.log, log);
        EXPECT_EQ(u.clock.totalSlept(), Millis(kills ? 100 : 0));
    }
}

TEST(Export, AFailedFileKeepsItsOldContentAndTheOthersAreWritten) {
    Uscita u;
    u.ini.set("Serial_1", "Out", "/missing/one.xml");
    u.ini.set("Serial_2", "Out", "/data/two.xml");
    u.files.failing = {"/missing/one.xml"};
    auto esito = u.esporta({"Serial_1", "<A>1</A>", "Serial_2", "<B>2</B>"});
    EXPECT_EQ(esito.scritti, std::vector<std::string>{"/data/two.xml"});
    ASSERT_EQ(esito.errori.size(), 1u);
    EXPECT_EQ(esito.errori[0], "/missing/one.xml: Permission denied");
}

}  // namespace
}  // namespace tarvel
