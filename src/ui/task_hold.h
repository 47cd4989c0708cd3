// Keeps the application running while a task's worker runs, also after its
// window has been closed: ending the process would close the output pipes, and
// a root transaction whose next write then fails stops half-way (packages
// unpacked but never configured, a kernel module never built).
#pragma once

#include <gio/gio.h>

namespace kelmora {

class ApplicationHold {
  public:
    // Main thread only: holds the default application, when there is one.
    static ApplicationHold acquire();

    ApplicationHold() = default;
    ApplicationHold(ApplicationHold&& other) noexcept : app_(other.app_) { other.app_ = nullptr; }
    ApplicationHold& operator=(ApplicationHold&&) = delete;
    ApplicationHold(const ApplicationHold&) = delete;
    // From any thread: the release runs on the main context, where the
    // application lives; the process may then end.
    ~ApplicationHold();

  private:
    GApplication* app_ = nullptr;
};

}  // namespace kelmora
