#include "netcontroller/requests/ecr_session.h"

namespace ecr::nc {

std::string ExchangeStateName(std::uint8_t state) {
  switch (state) {
    case esNone: return "esNone";
    case esInlRx: return "esInlRx";
    case esInlExec: return "esInlExec";
    case esBuffRx: return "esBuffRx";
    case esBuffTx: return "esBuffTx";
    case esBuffExec: return "esBuffExec";
    case esWaitTx: return "esWaitTx";
    case esQueryRx: return "esQueryRx";
    case esQueryTx: return "esQueryTx";
    default: return "Other state";
  }
}

}  // namespace ecr::nc
