// Which release a signed agent takes from a page it believed. A staged release goes to the
// share of installations whose bucket (install_id.h) lies below it; the others, and all
// under a halt (share 0), take the release before it when the page names one newer than
// their build. A person's check (console mode) is not staged, but a halt holds for it too.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "agent/identity/install_id.h"
#include "agent/trust/signed_block.h"

struct ReleaseChoice {
  // The release to compare with the installed build and to fetch: the page's own, or the
  // release before it as the page signs it (its version and packages, no rollout lines);
  // nullopt when the page offers this installation nothing.
  std::optional<SignedFields> release;
  bool halted = false;  // the page's release, newer than the installed build, is halted
};

// The choice for an installation whose build has the value installedValue (VersionValue),
// in console mode when person. installId is asked only for a release staged to a share
// between none and all; without an id the installation counts as outside the stage.
ReleaseChoice ChooseRelease(const SignedFields& page, std::int32_t installedValue, bool person,
                            const std::function<std::optional<InstallId>()>& installId);
