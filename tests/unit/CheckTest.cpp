#include <gtest/gtest.h>

#include "acquisition/Verifica.h"

namespace tarvel {
namespace {

TEST(Check, FindsProblemsOfRequestLinesWithoutTheLine) {
    EXPECT_TRUE(ProblemiRiga("1,4,12,1;Vac").empty());
    EXPECT_TRUE(ProblemiRiga("1,3,&100+,0;Energia").empty());
    EXPECT_TRUE(ProblemiRiga("SERIAL_2").empty());
    EXPECT_TRUE(ProblemiRiga("0,0,Roof A,0;Impianto").empty());

    auto one = [](const char* line) {
        auto p = ProblemiRiga(line);
        EXPECT_EQ(p.size(), 1u) << line;
        return p.empty() ? std::string() : p[0];
    };
    EXPECT_EQ(one("1,5,12,1;Vac"), "codice funzione 5 non supportato (1-4)");
    EXPECT_EQ(one("1,3,40000,0;A"), "registro fuori dall'intervallo a 16 bit");
    EXPECT_EQ(one("1,3,4,0;Temp inverter"),
              "descrizione \"Temp inverter\" non valida come nome XML");
    EXPECT_EQ(one("0,0,x,0;1st"), "descrizione \"1st\" non valida come nome XML");
    EXPECT_EQ(one("1,3,4;A"), "riga incompleta: servono tre virgole e un punto e virgola");
}

TEST(Check, ElementNames) {
    for (const char* good : {"Vac", "_a", "a.b-c", "Pot1", "\xC3\xA8nergia"})
        EXPECT_TRUE(NomeElementoValido(good)) << good;
    for (const char* bad : {"", "1a", "a b", "a&b", "<a>", "xmlData", "-a"})
        EXPECT_FALSE(NomeElementoValido(bad)) << bad;
}

}  // namespace
}  // namespace tarvel
