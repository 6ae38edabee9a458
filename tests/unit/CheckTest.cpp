#include <gtest/gtest.h>

#include "acquisition/Verifica.h"

namespace tarvel {
namespace {

// The warnings of --check are tested through tarvel-headless.
TEST(Check, ElementNames) {
    for (const char* good : {"Vac", "_a", "a.b-c", "Pot1", "\xC3\xA8nergia"})
        EXPECT_TRUE(NomeElementoValido(good)) << good;
    for (const char* bad : {"", "1a", "a b", "a&b", "<a>", "xmlData", "-a"})
        EXPECT_FALSE(NomeElementoValido(bad)) << bad;
}

}  // namespace
}  // namespace tarvel
