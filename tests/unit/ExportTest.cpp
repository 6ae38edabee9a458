#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "export/EsportaXML.h"

namespace tarvel {
namespace {

std::string lines(std::initializer_list<const char*> ls) {
    std::string out;
    for (const char* l : ls) out += std::string(l) + "\r\n";
    return out;
}

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

TEST(Export, OneFilePerProfileWorkedExample) {
    Uscita u;
    u.ini.set("Serial_1", "Out", "/data/linea1.xml");
    u.esporta({"Serial_1", "<Vac>230.1</Vac>", "%Next device", "<Vac>229.8</Vac>", "Serial_2",
               "<Vac>231.0</Vac>"});
    EXPECT_EQ(u.files.files["/data/linea1.xml"],
              lines({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "  <Dispositivi>", "",
                     "    <Dispositivo>", "      <Vac>230.1</Vac>", "    </Dispositivo>", "",
                     "    <Dispositivo>", "      <Vac>229.8</Vac>", "    </Dispositivo>", "",
                     "  </Dispositivi>"}));
    // A profile without its own file writes NoName.xml in the program folder.
    EXPECT_EQ(u.files.files["/opt/tarvel/NoName.xml"],
              lines({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "  <Dispositivi>", "",
                     "    <Dispositivo>", "      <Vac>231.0</Vac>", "    </Dispositivo>", "",
                     "  </Dispositivi>"}));
    EXPECT_EQ(u.files.files.size(), 2u);
}

TEST(Export, EncodingLabelAndSeparators) {
    Uscita u;
    u.ini.set("XML", "Encoding", "ISO-8859-1");
    u.ini.set("Export", "Out", "");
    // A profile line after only skipped lines still opens a new device.
    u.esporta({"#Sleep 5", "Serial_1", "Serial_2", "<V>\xE8</V>"});
    EXPECT_EQ(u.files.files["/opt/tarvel/NoName.xml"],
              lines({"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "  <Dispositivi>", "",
                     "    <Dispositivo>", "    </Dispositivo>", "", "    <Dispositivo>",
                     "    </Dispositivo>", "", "    <Dispositivo>", "      <V>\xE8</V>",
                     "    </Dispositivo>", "", "  </Dispositivi>"}));
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
