#include <gtest/gtest.h>

#include "modbus/Trama.h"

namespace tarvel {
namespace {

// Frames whose bytes come from the protocol's published worked examples.
TEST(Frame, ReadRequestsMatchReferenceFramesAndAnswersAreChecked) {
    struct Case {
        int node, function, address;
        Bytes frame;
    };
    const Case cases[] = {
        {1, 3, 0, Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}},
        {1, 4, 16, Bytes{0x01, 0x04, 0x00, 0x10, 0x00, 0x01, 0x30, 0x0F}},
        {17, 1, 19, Bytes{0x11, 0x01, 0x00, 0x13, 0x00, 0x01, 0x0E, 0x9F}},
        {1, 2, 0, Bytes{0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0xB9, 0xCA}},
        {0, 3, 0, Bytes{0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x85, 0xDB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node * 1000 + c.function * 100 + c.address);
        EXPECT_EQ(
            TramaLettura(static_cast<std::uint8_t>(c.node), static_cast<std::uint8_t>(c.function),
                         static_cast<std::int16_t>(c.address)),
            c.frame);
    }
    // Addresses held as negative 16-bit numbers go out as two's complement
    // (these CRCs and the ones below worked out with a separate bit-wise
    // CRC-16 in Python).
    EXPECT_EQ(TramaLettura(1, 3, static_cast<std::uint16_t>(-1)),
              (Bytes{0x01, 0x03, 0xFF, 0xFF, 0x00, 0x01, 0x84, 0x2E}));
    EXPECT_EQ(TramaLettura(1, 3, static_cast<std::uint16_t>(-25535)),
              (Bytes{0x01, 0x03, 0x9C, 0x41, 0x00, 0x01, 0xFA, 0x4E}));

    // Answers are checked before use.
    Bytes request = TramaLettura(1, 3, 0);
    Bytes good = Bytes{0x01, 0x03, 0x02, 0xFF, 0xFF, 0xB9, 0xF4};
    EXPECT_EQ(ControllaRisposta(request, good), EsitoTransazione::Completa);
    // Trailing noise after a complete answer does not spoil it.
    EXPECT_EQ(ControllaRisposta(request, (Bytes{0x01, 0x03, 0x02, 0xFF, 0xFF, 0xB9, 0xF4, 0x00})),
              EsitoTransazione::Completa);

    Bytes corrupted = good;
    corrupted[4] = 0xFE;
    EXPECT_EQ(ControllaRisposta(request, corrupted), EsitoTransazione::ErroreCRC);

    // Right CRC, but from node 2, for function 4, or with a wrong byte count.
    for (const Bytes& foreign : {Bytes{0x02, 0x03, 0x02, 0x00, 0x01, 0x3D, 0x84},
                                 Bytes{0x01, 0x04, 0x02, 0x00, 0x01, 0x78, 0xF0},
                                 Bytes{0x01, 0x03, 0x03, 0x00, 0x01, 0x28, 0x44}})
        EXPECT_EQ(ControllaRisposta(request, foreign), EsitoTransazione::RispostaErrata);

    Bytes exception = Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1};
    EXPECT_TRUE(RispostaEccezione(request, exception));
    exception[4] = 0xF0;
    EXPECT_FALSE(RispostaEccezione(request, exception));
    EXPECT_FALSE(RispostaEccezione(TramaLettura(2, 3, 0), (Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1})));
}

}  // namespace
}  // namespace tarvel
