#include "Transfer.h"

namespace kvsim {
namespace {

class Unavailable : public Transfer {
 public:
  Unavailable(Wire& wire, TimePoint now) {
    // Ten CAN bytes end a receiver at once and a sender after its count of
    // unusable handshake characters.
    wire.Send(std::string(10, '\x18'), now);
  }
  void Received(std::string_view, TimePoint) override {}
  void Tick(TimePoint) override {}
  std::optional<TimePoint> Deadline() const override { return std::nullopt; }
  std::optional<TransferResult> Result() const override { return TransferResult{transfer_error::kUnavailable, std::nullopt}; }
};

}  // namespace

std::unique_ptr<Transfer> MakeUnavailableTransfer(const TransferRequest&, Wire& wire, TimePoint now) {
  return std::make_unique<Unavailable>(wire, now);
}

}  // namespace kvsim
