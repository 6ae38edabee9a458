#include <gtest/gtest.h>

#include <optional>

#include "acquisition/Chiamata.h"
#include "acquisition/TestoValore.h"
#include "acquisition/Verifica.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

TEST(LeadingNumber, ReadsTheNumberATextStartsWithAndRoundsIt) {
    // Blanks inside are ignored too; out of range is not a number.
    using N = std::pair<std::string, double>;
    for (const auto& [text, value] :
         {N{"12", 12}, N{"  -2", -2}, N{"1 2 3", 123}, N{"12.5abc", 12.5}, N{".5", 0.5},
          N{"1.5E3", 1500}, N{"&H1F", 31}, N{"&hffff", 65535}, N{"100+&", 100}, N{"abc", 0},
          N{"", 0}, N{"-", 0}, N{"1e999", 0}, N{"&H" + std::string(300, 'F'), 0}})
        EXPECT_EQ(NumeroIniziale(text), value) << text;
    // Rounded, halves to even; out of width is no number.
    using R = std::pair<double, std::optional<std::int16_t>>;
    for (const auto& [value, rounded] :
         {R{2.5, 2}, R{3.5, 4}, R{-2.5, -2}, R{32767.4, 32767}, R{-32768, -32768},
          R{32767.5, std::nullopt}, R{40000, std::nullopt}})
        EXPECT_EQ(ArrotondaInt16(value), rounded) << value;
    EXPECT_EQ(ArrotondaInt32(2147483647.0), 2147483647);
    EXPECT_FALSE(ArrotondaInt32(2147483648.0));
}

TEST(ValueText, WritesNumbersTheWayTheOutputExpects) {
    using T = std::pair<double, const char*>;
    for (const auto& [value, text] :
         {T{230.1, "230.1"}, T{2301, "2301"}, T{0.5, ".5"}, T{-0.25, "-.25"}, T{6553.5, "6553.5"},
          T{4294967294.0, "4294967294"}, T{1e16, "1E+16"}, T{1.5e-5, "1.5E-05"}, T{0, "0"},
          T{-99999, "-99999"}, T{99999, ""}, T{23.01, "23.01"}})
        EXPECT_EQ(TestoValore(value), text) << value;
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
    EXPECT_EQ(TagliaRiga("\v\f NEXT\f\v").Nodo, "%");
    // A read line without all of its separators is cut as far as it goes.
    EXPECT_EQ(TagliaRiga("1,3,40"), (Chiamata{"1", "3", "40", "", ""}));
    EXPECT_EQ(TagliaRiga(""), Chiamata{});
    // The detail fields show the line as written; its execution uses them
    // without the markers.
    const Riga r = CaricaRiga("1,3,100+&,2;Energia");
    EXPECT_EQ(r.campi.Registro, "100+&");
    EXPECT_EQ(r.campiEseguiti.Registro, "100");
}

// The warnings of --check are tested through tarvel-headless.
TEST(Check, ElementNames) {
    for (const char* good : {"Vac", "_a", "a.b-c", "Pot1", "\xC3\xA8nergia"})
        EXPECT_TRUE(NomeElementoValido(good)) << good;
    for (const char* bad : {"", "1a", "a b", "a&b", "<a>", "xmlData", "-a"})
        EXPECT_FALSE(NomeElementoValido(bad)) << bad;
}

}  // namespace
}  // namespace tarvel
