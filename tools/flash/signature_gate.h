// Who signed the flasher, checked before any drive is opened.
#pragma once

#include <optional>
#include <string>

#include "authenticode.h"

namespace quorel::flash_tool {

struct Options;

struct GateResult {
  std::optional<int> refusal;  // the exit code when the run must end here
  std::string line;            // what to show and log: the refusal, or the signature's line
};

// A flasher changed after it was signed is refused, always; an unsigned or untrusted one only
// with --require-signature. Every other flasher goes on, with its signer (or that there is none)
// in `line`.
GateResult CheckSignature(const signature::Signature& signature, bool requireSignature);

// The anchors the options name (--trust), or the system's CAs; std::runtime_error naming a
// --trust file that cannot be used.
signature::TrustAnchors AnchorsOf(const Options& options);

}  // namespace quorel::flash_tool
