#include "modbus/TransactionResult.h"

namespace tarvel {

const char* ResultText(TransactionResult verdict) {
    switch (verdict) {
        case TransactionResult::Complete:
            return "";
        case TransactionResult::TimeOut:
            return " Time out";
        case TransactionResult::Broadcast:
            return " Broadcast";
        case TransactionResult::Partial:
        case TransactionResult::Exception:
            return " (Exception)";
        case TransactionResult::CrcError:
            return " (CRC error)";
        case TransactionResult::WrongAnswer:
            return " (Wrong answer)";
        case TransactionResult::PortFailure:
            return " (Port error)";
    }
    return "";
}

}  // namespace tarvel
