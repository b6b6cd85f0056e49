#include "signature_gate.h"

#include "app/exit_codes.h"
#include "options.h"

namespace quorel::flash_tool {

GateResult CheckSignature(const signature::Signature& signature, bool requireSignature) {
  using signature::State;
  switch (signature.state) {
    case State::DigestMismatch:
    case State::BadSignature:
      return {flash_exit::kPackage, "the flasher was changed after it was signed by " +
                                        signature.subject + ": it is refused"};
    case State::Trusted:
      return {std::nullopt, signature::Describe(signature)};
    case State::Unsigned:
    case State::Unreadable:
    case State::NotChecked:
    case State::Untrusted:
      break;
  }
  if (requireSignature) {
    return {flash_exit::kPackage,
            "--require-signature: " + signature::Describe(signature) + ": the flasher is refused"};
  }
  return {std::nullopt, signature::Describe(signature)};
}

signature::TrustAnchors AnchorsOf(const Options& options) {
  if (options.trust.empty()) return signature::TrustAnchors::System();
  std::vector<std::filesystem::path> files(options.trust.begin(), options.trust.end());
  return signature::TrustAnchors::FromFiles(files);
}

}  // namespace quorel::flash_tool
