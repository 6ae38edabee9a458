#include "modbus/Framing.h"

#include "modbus/Frame.h"

namespace tarvel {
namespace {

Bytes richiestaRtu(std::uint8_t nodo, const Bytes& pdu, std::uint16_t) {
    Bytes frame;
    frame.reserve(pdu.size() + 3);
    frame.push_back(nodo);
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const std::uint16_t crc = CalcolaCRC(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

}  // namespace

const Framing FramingRtu{
    1, 2, richiestaRtu, ControllaRisposta, RispostaEccezione, RtuFrameAtFront, RtuAnswers};
const Framing FramingTcp{
    7, 0, TramaTcp, ControllaRispostaTcp, RispostaEccezioneTcp, TcpFrameAtFront, TcpAnswers};

int Framing::lunghezzaRisposta(int funzione, int quantita) const {
    // The RTU answer has one byte of node and two of CRC around the rest.
    const int rtu = LunghezzaRisposta(funzione, quantita);
    return rtu == 0 ? 0 : rtu - 3 + static_cast<int>(intestazione + coda);
}

const Framing& FramingDi(LinkKind link) {
    return link == LinkKind::ModbusTcp ? FramingTcp : FramingRtu;
}

}  // namespace tarvel
