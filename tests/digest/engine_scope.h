// Helpers for running the same digest test on every engine that this machine offers.
#pragma once

#include <string>
#include <vector>

#include "digest/sha.h"

inline std::vector<DigestEngine> availableEngines(bool includePortable) {
    std::vector<DigestEngine> engines;
    for (DigestEngine engine : {DigestEngine::Portable, DigestEngine::X86Sha, DigestEngine::ArmCrypto}) {
        if ((includePortable || engine != DigestEngine::Portable) && digestEngineAvailable(engine)) {
            engines.push_back(engine);
        }
    }
    return engines;
}

// Selects an engine for the lifetime of the scope and puts the previous one back.
class EngineScope {
  public:
    explicit EngineScope(DigestEngine engine) : previous_(activeDigestEngine()) {
        selected_ = selectDigestEngine(engine);
    }
    ~EngineScope() { selectDigestEngine(previous_); }
    EngineScope(const EngineScope&) = delete;
    EngineScope& operator=(const EngineScope&) = delete;
    bool selected() const { return selected_; }

  private:
    DigestEngine previous_;
    bool selected_ = false;
};

struct EngineParamName {
    template <typename Info>
    std::string operator()(const Info& info) const {
        std::string name = digestEngineName(info.param);
        for (char& c : name) {
            if (c == '-') c = '_';
        }
        return name;
    }
};
