// The installation's own random id, from which a staged release draws its cohort: 128 bits
// made at first need and kept in the data directory as "install.id". It is not the hardware
// identifier, which changes with network adapters, is shared by cloned machines and says
// who the machine is; this one says nothing but which bucket the installation is in.
//
// A state record (platform/state_record.h):
//
//   kivo9-install-id 2
//   <32 lower-case hex digits>
//   sum <...>
//
// An id kept as format 1 (the same without the sum line) is still read: it is the bucket.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using InstallId = std::array<std::uint8_t, 16>;

// The id's text, and back; nullopt for a text that is not exactly one id (damaged).
std::string FormatInstallId(const InstallId& id);
std::optional<InstallId> ParseInstallId(std::string_view text);

// The id kept at path; a missing or damaged file gets a new random id, written beside and
// renamed in. nullopt when no id can be kept (no random bytes, the file cannot be written):
// an id that changed at every run would put the installation in a new bucket every time.
std::optional<InstallId> KeptInstallId(const std::wstring& path);

// The installation's bucket, 0 to 9,999, for a release's salt: the first eight bytes of
// SHA-256 over the salt's text and then the id's 16 bytes, big-endian, modulo 10,000. The
// bucket stays for a release, so raising its share only adds installations; another salt
// draws another cohort.
std::uint32_t RolloutBucket(std::string_view salt, const InstallId& id);
