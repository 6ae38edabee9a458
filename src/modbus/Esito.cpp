#include "modbus/Esito.h"

namespace tarvel {

const char* TestoEsito(EsitoTransazione esito) {
    switch (esito) {
        case EsitoTransazione::Completa:
            return "";
        case EsitoTransazione::TimeOut:
            return " Time out";
        case EsitoTransazione::Broadcast:
            return " Broadcast";
        case EsitoTransazione::Parziale:
        case EsitoTransazione::Eccezione:
            return " (Exception)";
        case EsitoTransazione::ErroreCRC:
            return " (CRC error)";
        case EsitoTransazione::RispostaErrata:
            return " (Wrong answer)";
        case EsitoTransazione::ErrorePorta:
            return " (Port error)";
    }
    return "";
}

}  // namespace tarvel
