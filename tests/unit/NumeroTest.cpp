#include <gtest/gtest.h>

#include "acquisition/Chiamata.h"
#include "acquisition/TestoValore.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

TEST(LeadingNumber, ReadsTheNumberATextStartsWith) {
    EXPECT_EQ(NumeroIniziale("12"), 12);
    EXPECT_EQ(NumeroIniziale("  -2"), -2);
    EXPECT_EQ(NumeroIniziale("1 2 3"), 123);  // blanks inside are ignored too
    EXPECT_EQ(NumeroIniziale("12.5abc"), 12.5);
    EXPECT_EQ(NumeroIniziale(".5"), 0.5);
    EXPECT_EQ(NumeroIniziale("1.5E3"), 1500);
    EXPECT_EQ(NumeroIniziale("&H1F"), 31);
    EXPECT_EQ(NumeroIniziale("&hffff"), 65535);
    EXPECT_EQ(NumeroIniziale("100+&"), 100);
    EXPECT_EQ(NumeroIniziale("abc"), 0);
    EXPECT_EQ(NumeroIniziale(""), 0);
    EXPECT_EQ(NumeroIniziale("-"), 0);
    EXPECT_EQ(NumeroIniziale("1e999"), 0);  // out of range is not a number
    EXPECT_EQ(NumeroIniziale("&H" + std::string(300, 'F')), 0);
}

TEST(LeadingNumber, RoundsHalvesToEvenAndRefusesOutOfWidth) {
    EXPECT_EQ(ArrotondaInt16(2.5), 2);
    EXPECT_EQ(ArrotondaInt16(3.5), 4);
    EXPECT_EQ(ArrotondaInt16(-2.5), -2);
    EXPECT_EQ(ArrotondaInt16(32767.4), 32767);
    EXPECT_EQ(ArrotondaInt16(-32768), -32768);
    EXPECT_FALSE(ArrotondaInt16(32767.5));
    EXPECT_FALSE(ArrotondaInt16(40000));
    EXPECT_EQ(ArrotondaInt32(2147483647.0), 2147483647);
    EXPECT_FALSE(ArrotondaInt32(2147483648.0));
}

TEST(ValueText, WritesNumbersTheWayTheOutputExpects) {
    EXPECT_EQ(TestoValore(230.1), "230.1");
    EXPECT_EQ(TestoValore(2301), "2301");
    EXPECT_EQ(TestoValore(0.5), ".5");
    EXPECT_EQ(TestoValore(-0.25), "-.25");
    EXPECT_EQ(TestoValore(-0.1), "-.1");
    EXPECT_EQ(TestoValore(6553.5), "6553.5");
    EXPECT_EQ(TestoValore(4294967294.0), "4294967294");
    EXPECT_EQ(TestoValore(1e16), "1E+16");
    EXPECT_EQ(TestoValore(1.5e-5), "1.5E-05");
    EXPECT_EQ(TestoValore(0), "0");
    EXPECT_EQ(TestoValore(-99999), "-99999");
    EXPECT_EQ(TestoValore(99999), "");
    EXPECT_EQ(TestoValore(23.01), "23.01");
}

TEST(RequestLine, CutsEveryKindOfLine) {
    EXPECT_EQ(TagliaRiga("1,4,12,1;Vac"), (Chiamata{"1", "4", "12", "1", "Vac"}));
    EXPECT_EQ(TagliaRiga("1 , 3 ,40,0; Pout"), (Chiamata{"1 ", "3 ", "40", "0", "Pout"}));
    EXPECT_EQ(TagliaRiga("1,3,40,2;Temp, inverter").Descrizione, "Temp, inverter");
    EXPECT_EQ(TagliaRiga("1,3,40,2;a;b").Descrizione, "a;b");
    EXPECT_EQ(TagliaRiga("serial_3"), (Chiamata{"*", "3", "*", "*", "Serial settings"}));
    EXPECT_EQ(TagliaRiga("SERIAL").Codice, "SERIAL");
    EXPECT_EQ(TagliaRiga("  SLEEP  250   "), (Chiamata{"#", "250", "*", "*", "Wait"}));
    EXPECT_EQ(TagliaRiga("Next"), (Chiamata{"%", "*", "*", "*", "Next device"}));
    // A read line without all of its separators is cut as far as it goes.
    EXPECT_EQ(TagliaRiga("1,3,40"), (Chiamata{"1", "3", "40", "", ""}));
    EXPECT_EQ(TagliaRiga(""), Chiamata{});
}

TEST(RequestLine, TellsTheKindOfLine) {
    EXPECT_EQ(TipoDiRiga("1,4,12,1;Vac"), TipoRiga::Lettura);
    EXPECT_EQ(TipoDiRiga("0,0,Roof A,0;Impianto"), TipoRiga::Costante);
    EXPECT_EQ(TipoDiRiga("SERIAL_1"), TipoRiga::Seriale);
    EXPECT_EQ(TipoDiRiga("SLEEP 5"), TipoRiga::Attesa);
    EXPECT_EQ(TipoDiRiga("NEXT"), TipoRiga::Prossimo);
    EXPECT_EQ(TipoDiRiga("   "), TipoRiga::Vuota);
    EXPECT_EQ(TipoDiRiga("1,4,12;Vac"), TipoRiga::NonValida);
    EXPECT_EQ(TipoDiRiga("1,4,12,1 Vac"), TipoRiga::NonValida);
    EXPECT_STREQ(NomeTipoRiga(TipoRiga::NonValida), "invalid");
}

}  // namespace
}  // namespace tarvel
