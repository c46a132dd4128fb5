// The creation calls of one initialisation, counted in the order they are made, with one of
// them (the n-th) made to fail. Every interceptor of the storm asks the same plan: the
// wrapped Direct3D objects and devices, and the patched Direct3D and D3DX entry points.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

struct creation_call {
    std::string name; // "CreateTexture", or "D3DXCreateSprite>CreateTexture" inside D3DX
    HRESULT result;   // what the plan answered: S_OK, or the failure handed back
};

class creation_faults {
  public:
    // Counts the calls from now on; the call numbered `fail_at` (from 1) fails with `code`,
    // none when fail_at is 0.
    void arm(int fail_at, HRESULT code);
    // Stops counting; calls pass again, except the ones refused always.
    void disarm();
    // Makes every call of this name fail with `code`, counted or not.
    void refuse_always(const std::string& name, HRESULT code);
    void refuse_nothing();

    // Asked by every interceptor before it makes the real call: S_OK to go on, or the failure
    // to hand back instead.
    HRESULT decide(const char* name);

    // The calls counted since arm.
    const std::vector<creation_call>& journal() const { return journal_; }
    // Calls failed since the program started, the ones refused always included.
    int injected() const { return injected_; }

    // Names the calls made while a D3DX function runs after that function.
    class scope {
      public:
        scope(creation_faults& faults, const char* name);
        ~scope();
        scope(const scope&) = delete;
        scope& operator=(const scope&) = delete;

      private:
        creation_faults& faults_;
        std::string previous_;
    };

  private:
    bool counting_ = false;
    int fail_at_ = 0;
    HRESULT code_ = S_OK;
    std::string enclosing_;
    std::vector<std::pair<std::string, HRESULT>> refused_;
    std::vector<creation_call> journal_;
    int injected_ = 0;
};

// The one plan of the program.
creation_faults& creation_plan();
