#include "d3d9_creation_faults.h"

void creation_faults::arm(int fail_at, HRESULT code)
{
    counting_ = true;
    fail_at_ = fail_at;
    code_ = code;
    journal_.clear();
}

void creation_faults::disarm()
{
    counting_ = false;
    fail_at_ = 0;
}

void creation_faults::refuse_always(const std::string& name, HRESULT code)
{
    refused_.emplace_back(name, code);
}

void creation_faults::refuse_nothing()
{
    refused_.clear();
}

HRESULT creation_faults::decide(const char* name)
{
    const std::string full = enclosing_.empty() ? name : enclosing_ + ">" + name;
    HRESULT result = S_OK;
    for (const auto& refused : refused_)
        if (refused.first == full)
            result = refused.second;
    if (counting_) {
        if (static_cast<int>(journal_.size()) + 1 == fail_at_)
            result = code_;
        journal_.push_back({full, result});
    }
    injected_ += FAILED(result);
    return result;
}

creation_faults::scope::scope(creation_faults& faults, const char* name)
    : faults_(faults), previous_(faults.enclosing_)
{
    faults_.enclosing_ = previous_.empty() ? name : previous_ + ">" + name;
}

creation_faults::scope::~scope()
{
    faults_.enclosing_ = previous_;
}

creation_faults& creation_plan()
{
    static creation_faults plan;
    return plan;
}
