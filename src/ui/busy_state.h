// A window is busy while a task runs: spinner on, the nine action buttons off.
#pragma once

#include <utility>

#include "i18n/lang.h"
#include "process/process.h"
#include "ui/app_widgets.h"
#include "ui/task_hold.h"

namespace kelmora {

// Also clears the outcome of the previous task.
// Whether an action button can work on this system (NVIDIA needs x86_64
// glibc; the install buttons need xbps).
bool usable(const AppWidgets& widgets, const Gtk::Button* button);
void enter_busy_state(const AppWidgets& widgets);
// Leaves the busy state and shows how the task ended (above the log).
void leave_busy_state(const AppWidgets& widgets, TaskOutcome outcome);

// The text for an outcome in `lang` (empty for None), and applying it; while
// a step runs, the line names it instead.
std::string_view outcome_text(TaskOutcome outcome, Lang lang);
void show_outcome(const AppWidgets& widgets, Lang lang);

// "Step 2 of 4: Updating xbps", in `lang` (no step numbers for a single one).
std::string step_text(const StepReport& step, Lang lang);
// A step began: the line beside the spinner names it.
void show_step(const AppWidgets& widgets, StepReport step);

// Every task starts this way (main thread): the window goes busy, and `body`
// runs on a detached worker that keeps the application alive until it returns.
template <class F>
void start_task(const AppWidgets& widgets, F&& body) {
    enter_busy_state(widgets);
    spawn_detached(
        [body = std::forward<F>(body), hold = ApplicationHold::acquire()]() mutable { body(); });
}

}  // namespace kelmora
