#include "backend_watch.h"

#include <cstring>

#include "kx_logger.h"

namespace {

const char ddraw_init[] = "init video render with ddraw software!";
const char copy_surface[] = "CreateSurface successfully with copy surface format:";

bool starts_with(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

} // namespace

backend_watch::backend_watch()
{
    kx_logger_set_sink(&backend_watch::receive, this);
}

backend_watch::~backend_watch()
{
    kx_logger_set_sink(nullptr, nullptr);
}

void backend_watch::receive(void* user, int, const char*, int, int, const char* message)
{
    auto* watch = static_cast<backend_watch*>(user);
    if (!message)
        return;
    if (starts_with(message, ddraw_init))
        watch->ddraw_ = true;
    if (starts_with(message, copy_surface)) {
        watch->copy_format_ = message + std::strlen(copy_surface);
        while (!watch->copy_format_.empty() && watch->copy_format_.back() == '\n')
            watch->copy_format_.pop_back();
    }
}
