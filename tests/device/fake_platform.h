// SPDX-License-Identifier: GPL-3.0-or-later
// Test doubles for pedal access: a platform whose channel records every request it is given
// and answers from a script, and a temporary folder.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "device/platform.h"

namespace rendax::testing {

struct RecordedCommand {
  PassThroughRequest request;
  std::vector<uint8_t> dataOut;  // what an Out command carried
};

struct ScriptedReply {
  PassThroughResult result;
  std::vector<uint8_t> dataIn;  // copied into an In command's buffer
};

inline PassThroughResult GoodResult() {
  PassThroughResult r;
  r.outcome = CommandOutcome::Good;
  return r;
}

class FakePlatform : public DevicePlatform {
 public:
  std::vector<std::string> candidates;
  std::string listError;  // non-empty: the list cannot be read
  std::map<std::string, StorageIdentity> identities;
  int openError = 0;  // non-zero: Open fails with it
  bool simulated = false;
  std::vector<RecordedCommand> sent;
  std::deque<ScriptedReply> replies;  // empty: GOOD with no data
  int opens = 0, closes = 0;
  std::multimap<std::string, std::string> spellings;  // the platform's own names of paths

  bool ListCandidates(std::vector<std::string>& paths, std::string& error) override {
    if (!listError.empty()) {
      error = listError;
      return false;
    }
    paths = candidates;
    return true;
  }
  bool Spells(const std::string& spelling, const std::string& path) const override {
    auto [from, to] = spellings.equal_range(spelling);
    return std::any_of(from, to, [&](const auto& s) { return s.second == path; });
  }
  std::optional<StorageIdentity> Identify(const std::string& path) override {
    auto it = identities.find(path);
    if (it == identities.end()) return std::nullopt;
    return it->second;
  }
  std::unique_ptr<DeviceChannel> Open(const std::string&, uint32_t, uint32_t,
                                      int& osError) override {
    osError = openError;
    if (openError != 0) return nullptr;
    ++opens;
    return std::make_unique<Channel>(*this);
  }

 private:
  class Channel : public DeviceChannel {
   public:
    explicit Channel(FakePlatform& p) : p_(p) {}
    ~Channel() override { ++p_.closes; }
    PassThroughResult Execute(const PassThroughRequest& request) override {
      RecordedCommand rec{request, {}};
      const auto* bytes = static_cast<const uint8_t*>(request.data);
      if (request.direction == DataDirection::Out && bytes != nullptr) {
        rec.dataOut.assign(bytes, bytes + request.dataLength);
      }
      p_.sent.push_back(rec);
      ScriptedReply reply{GoodResult(), {}};
      if (!p_.replies.empty()) {
        reply = p_.replies.front();
        p_.replies.pop_front();
      }
      if (request.direction == DataDirection::In && request.data != nullptr) {
        const size_t n = std::min<size_t>(reply.dataIn.size(), request.dataLength);
        std::copy_n(reply.dataIn.begin(), n, static_cast<uint8_t*>(request.data));
      }
      return reply.result;
    }
    bool IsSimulated() const override { return p_.simulated; }

   private:
    FakePlatform& p_;
  };
};

// A fresh folder under the system's temp folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32  // no mkdtemp: try numbered names until one is new
    for (unsigned n = std::rand();; ++n) {
      path_ = std::filesystem::temp_directory_path() / ("rendax-" + std::to_string(n));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) break;
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "rendax-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
#endif
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const {
    return path_;
  }
  std::string operator/(const std::string& child) const {
    return (path_ / child).string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace rendax::testing
