// Listens to the library's log (through the kit's logger) while a renderer is initialised,
// to tell which backend the library built: the library's interface does not say.
#pragma once

#include <string>

class backend_watch {
  public:
    backend_watch();
    ~backend_watch();
    backend_watch(const backend_watch&) = delete;
    backend_watch& operator=(const backend_watch&) = delete;

    // True once the DirectDraw backend has reported its initialisation.
    bool saw_ddraw() const { return ddraw_; }
    // The format of the DirectDraw copy surface ("YUY2", "ARGB", ...), empty when not seen.
    const std::string& copy_format() const { return copy_format_; }

  private:
    static void receive(void* user, int level, const char* source_file, int line, int thread_id,
                        const char* message);

    bool ddraw_ = false;
    std::string copy_format_;
};
