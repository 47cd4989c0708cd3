#include "ui/auth_agent.h"

#define POLKIT_AGENT_I_KNOW_API_IS_SUBJECT_TO_CHANGE
#include <gtkmm.h>
#include <polkit/polkit.h>
#include <polkitagent/polkitagent.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>

#include "i18n/catalogue.h"
#include "i18n/lang.h"
#include "process/command.h"

namespace kelmora {

std::vector<std::string> ordered_identities(std::vector<std::string> names,
                                            const std::string& user) {
    const auto own = std::find(names.begin(), names.end(), user);
    if (own != names.end()) std::rotate(names.begin(), own, own + 1);
    return names;
}

namespace {

// The action of kelmora's helper: its message comes from our catalogue, in
// the interface language (polkitd would pick the policy's by the locale of
// the environment, which may differ from the stored choice).
constexpr const char* helper_action = "com.tamsel.pellin.helper";

std::string user_name() {
    if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
    return {};
}

// One authentication request: the dialog, and one PAM conversation at a time
// through polkit's helper. Owns itself; gone once it has answered the task.
class AuthDialog {
  public:
    AuthDialog(GTask* task, const gchar* action_id, const gchar* message, PolkitDetails* details,
               const gchar* cookie, GList* identities, GCancellable* cancellable)
        : task_(task), cookie_(cookie), cancellable_(cancellable) {
        if (cancellable_ != nullptr) {
            // polkitd withdrew the request (pkexec ended): the listener
            // cancels on the main context it was registered on.
            g_object_ref(cancellable_);
            cancelled_id_ = g_signal_connect(cancellable_, "cancelled",
                                             G_CALLBACK(+[](GCancellable*, gpointer self) {
                                                 static_cast<AuthDialog*>(self)->finish(false);
                                             }),
                                             this);
        }
        std::vector<std::string> names;
        for (GList* l = identities; l != nullptr; l = l->next) {
            auto* identity = POLKIT_IDENTITY(l->data);
            gchar* text = nullptr;
            if (POLKIT_IS_UNIX_USER(identity)) {
                const gchar* name = polkit_unix_user_get_name(POLKIT_UNIX_USER(identity));
                text = g_strdup(name != nullptr ? name : "");
            }
            if (text == nullptr || *text == '\0') {
                g_free(text);
                text = polkit_identity_to_string(identity);
            }
            names.emplace_back(text);
            identities_.emplace(names.back(), POLKIT_IDENTITY(g_object_ref(identity)));
            g_free(text);
        }
        names_ = ordered_identities(std::move(names), user_name());
        // pkexec's command line when polkitd passes it on; else what this
        // process started last, which is what asks now.
        const char* given = details ? polkit_details_lookup(details, "command_line") : nullptr;
        const std::string command = given != nullptr ? given : last_privileged_command();
        build(action_id, message, command.c_str());
        if (cancellable_ != nullptr && g_cancellable_is_cancelled(cancellable_))
            finish(false);
        else
            start_session();
    }

    AuthDialog(const AuthDialog&) = delete;
    AuthDialog& operator=(const AuthDialog&) = delete;

  private:
    ~AuthDialog() {
        for (auto& [name, identity] : identities_) g_object_unref(identity);
        if (cancellable_ != nullptr) {
            g_signal_handler_disconnect(cancellable_, cancelled_id_);
            g_object_unref(cancellable_);
        }
        g_object_unref(task_);
    }

    void build(const char* action_id, const char* message, const char* command) {
        const Lang lang = load_lang();
        window_ = new Gtk::Window();
        window_->set_title(std::string(get_text(lang, "auth_title")));
        window_->set_modal(true);
        window_->set_resizable(false);
        window_->set_default_size(440, -1);
        if (auto app = std::dynamic_pointer_cast<Gtk::Application>(Gio::Application::get_default()))
            if (Gtk::Window* parent = app->get_active_window()) window_->set_transient_for(*parent);

        auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
        box->set_margin(18);
        auto* head = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
        auto* icon = Gtk::make_managed<Gtk::Image>();
        icon->set_from_icon_name("dialog-password-symbolic");
        icon->set_pixel_size(32);
        icon->set_valign(Gtk::Align::START);
        head->append(*icon);
        const std::string text = std::string(action_id) == helper_action
                                     ? std::string(get_text(lang, "auth_message"))
                                     : std::string(message ? message : "");
        head->append(*wrapped(text, false));
        box->append(*head);
        if (command != nullptr && *command != '\0') {
            auto* runs = wrapped(format_text(lang, "auth_runs", {{"command", command}}), true);
            runs->add_css_class("dim-label");
            box->append(*runs);
        }

        auto* as_row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        as_row->append(*Gtk::make_managed<Gtk::Label>(std::string(get_text(lang, "auth_as"))));
        if (names_.size() > 1) {
            std::vector<Glib::ustring> list(names_.begin(), names_.end());
            chooser_ = Gtk::make_managed<Gtk::DropDown>(list);
            chooser_->property_selected().signal_changed().connect([this] {
                if (!done_) restart_session();
            });
            as_row->append(*chooser_);
        } else {
            auto* who = Gtk::make_managed<Gtk::Label>(names_.empty() ? "" : names_.front());
            who->add_css_class("heading");
            as_row->append(*who);
        }
        box->append(*as_row);

        prompt_ = Gtk::make_managed<Gtk::Label>(std::string(get_text(lang, "auth_password")));
        prompt_->set_xalign(0);
        box->append(*prompt_);
        entry_ = Gtk::make_managed<Gtk::PasswordEntry>();
        entry_->set_show_peek_icon(true);
        gtk_accessible_update_property(GTK_ACCESSIBLE(entry_->gobj()),
                                       GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       std::string(get_text(lang, "auth_password")).c_str(), -1);
        entry_->set_sensitive(false);
        // Enter authenticates (gtkmm 4.8 does not wrap the entry's signal).
        g_signal_connect(entry_->gobj(), "activate", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                             static_cast<AuthDialog*>(self)->respond();
                         }),
                         this);
        box->append(*entry_);
        info_ = wrapped("", false);
        info_->set_visible(false);
        box->append(*info_);

        auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        buttons->set_halign(Gtk::Align::END);
        buttons->set_margin_top(6);
        auto* cancel = Gtk::make_managed<Gtk::Button>(std::string(get_text(lang, "auth_cancel")));
        cancel->signal_clicked().connect([this] { finish(false); });
        ok_ = Gtk::make_managed<Gtk::Button>(std::string(get_text(lang, "auth_ok")));
        ok_->add_css_class("suggested-action");
        ok_->set_sensitive(false);
        ok_->signal_clicked().connect([this] { respond(); });
        buttons->append(*cancel);
        buttons->append(*ok_);
        box->append(*buttons);
        window_->set_child(*box);

        // Escape dismisses, as in every dialog.
        auto shortcuts = Gtk::ShortcutController::create();
        shortcuts->add_shortcut(Gtk::Shortcut::create(
            Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
            Gtk::CallbackAction::create([this](Gtk::Widget&, const Glib::VariantBase&) {
                finish(false);
                return true;
            })));
        window_->add_controller(shortcuts);
        window_->signal_close_request().connect(
            [this] {
                finish(false);
                return true;
            },
            false);
        window_->present();
    }

    static Gtk::Label* wrapped(const std::string& text, bool selectable) {
        auto* label = Gtk::make_managed<Gtk::Label>(text);
        label->set_wrap(true);
        label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
        label->set_max_width_chars(52);
        label->set_xalign(0);
        label->set_selectable(selectable);
        return label;
    }

    PolkitIdentity* chosen() const {
        if (names_.empty()) return nullptr;
        const std::size_t at = chooser_ ? chooser_->get_selected() : 0;
        return identities_.at(names_[std::min(at, names_.size() - 1)]);
    }

    void start_session() {
        PolkitIdentity* identity = chosen();
        if (identity == nullptr) return finish(false);
        session_ = polkit_agent_session_new(identity, cookie_.c_str());
        g_signal_connect(session_, "request", G_CALLBACK(on_request), this);
        g_signal_connect(session_, "show-info", G_CALLBACK(on_info), this);
        g_signal_connect(session_, "show-error", G_CALLBACK(on_error), this);
        g_signal_connect(session_, "completed", G_CALLBACK(on_completed), this);
        polkit_agent_session_initiate(session_);
    }

    void end_session() {
        if (session_ == nullptr) return;
        g_signal_handlers_disconnect_by_data(session_, this);
        polkit_agent_session_cancel(session_);
        g_object_unref(session_);
        session_ = nullptr;
    }

    void restart_session() {
        end_session();
        waiting(false);
        start_session();
    }

    void waiting(bool for_answer) {
        entry_->set_sensitive(for_answer);
        ok_->set_sensitive(for_answer);
        if (for_answer) entry_->grab_focus();
    }

    void show_info(const char* text, bool error) {
        info_->set_text(text != nullptr ? text : "");
        info_->set_visible(text != nullptr && *text != '\0');
        if (error)
            info_->add_css_class("error");
        else
            info_->remove_css_class("error");
    }

    // The answer goes to polkit's helper and nowhere else; the entry forgets it.
    void respond() {
        if (session_ == nullptr || !entry_->get_sensitive()) return;
        std::string answer = entry_->get_text().raw();
        entry_->set_text("");
        waiting(false);
        polkit_agent_session_response(session_, answer.c_str());
        std::fill(answer.begin(), answer.end(), '\0');
    }

    static void on_request(PolkitAgentSession*, const gchar* request, gboolean, gpointer self) {
        auto* d = static_cast<AuthDialog*>(self);
        // PAM's own prompt ("Password: ", a fingerprint prompt), as it gives it.
        d->prompt_->set_text(request != nullptr ? request : "");
        d->waiting(true);
    }
    static void on_info(PolkitAgentSession*, const gchar* text, gpointer self) {
        static_cast<AuthDialog*>(self)->show_info(text, false);
    }
    static void on_error(PolkitAgentSession*, const gchar* text, gpointer self) {
        static_cast<AuthDialog*>(self)->show_info(text, true);
    }
    static void on_completed(PolkitAgentSession*, gboolean gained, gpointer self) {
        auto* d = static_cast<AuthDialog*>(self);
        g_signal_handlers_disconnect_by_data(d->session_, d);
        g_object_unref(d->session_);
        d->session_ = nullptr;
        if (gained) return d->finish(true);
        // A wrong password: say so and ask again, in the same dialog.
        d->show_info(std::string(get_text(load_lang(), "auth_retry")).c_str(), true);
        d->start_session();
    }

    void finish(bool authenticated) {
        if (done_) return;
        done_ = true;
        end_session();
        if (authenticated)
            g_task_return_boolean(task_, TRUE);
        else
            // polkitd reads this error as a dismissal: pkexec then says
            // "Request dismissed", and the task reads as cancelled.
            g_task_return_new_error(task_, POLKIT_ERROR, POLKIT_ERROR_CANCELLED,
                                    "The authentication dialog was dismissed");
        Gtk::Window* window = window_;
        window_ = nullptr;
        // Later, outside the handler that is running now.
        // The entry loses the focus first: GTK warns about a text entry hidden
        // while it has it.
        window->unset_focus();
        Glib::signal_idle().connect_once([window, self = this] {
            window->hide();
            delete window;
            delete self;
        });
    }

    GTask* task_;
    std::string cookie_;
    GCancellable* cancellable_;
    gulong cancelled_id_ = 0;
    std::map<std::string, PolkitIdentity*> identities_;
    std::vector<std::string> names_;
    PolkitAgentSession* session_ = nullptr;
    bool done_ = false;
    Gtk::Window* window_ = nullptr;
    Gtk::DropDown* chooser_ = nullptr;
    Gtk::Label* prompt_ = nullptr;
    Gtk::PasswordEntry* entry_ = nullptr;
    Gtk::Label* info_ = nullptr;
    Gtk::Button* ok_ = nullptr;
};

}  // namespace
}  // namespace kelmora

// The listener: GObject's way of subclassing, kept to what polkit needs.
extern "C" {
typedef struct {
    PolkitAgentListener parent;
} KelmoraListener;
typedef struct {
    PolkitAgentListenerClass parent_class;
} KelmoraListenerClass;

G_DEFINE_TYPE(KelmoraListener, kelmora_listener, POLKIT_AGENT_TYPE_LISTENER)

static void kelmora_listener_initiate(PolkitAgentListener* listener, const gchar* action_id,
                                      const gchar* message, const gchar* /*icon_name*/,
                                      PolkitDetails* details, const gchar* cookie,
                                      GList* identities, GCancellable* cancellable,
                                      GAsyncReadyCallback callback, gpointer user_data) {
    GTask* task = g_task_new(listener, cancellable, callback, user_data);
    new kelmora::AuthDialog(task, action_id, message, details, cookie, identities, cancellable);
}

static gboolean kelmora_listener_finish(PolkitAgentListener*, GAsyncResult* result,
                                        GError** error) {
    return g_task_propagate_boolean(G_TASK(result), error);
}

static void kelmora_listener_init(KelmoraListener*) {}

static void kelmora_listener_class_init(KelmoraListenerClass* klass) {
    PolkitAgentListenerClass* listener = POLKIT_AGENT_LISTENER_CLASS(klass);
    listener->initiate_authentication = kelmora_listener_initiate;
    listener->initiate_authentication_finish = kelmora_listener_finish;
}
}

namespace kelmora {
namespace {

constexpr const char* agent_path = "/com/tamsel/pellin/AuthenticationAgent";

// Main thread only.
PolkitAgentListener* listener = nullptr;
gpointer registration = nullptr;

// Registers the listener for this process (again, when polkitd forgot it
// after a restart). Main thread.
bool register_listener() {
    if (registration != nullptr) {
        polkit_agent_listener_unregister(registration);
        registration = nullptr;
    }
    if (listener == nullptr)
        listener = POLKIT_AGENT_LISTENER(g_object_new(kelmora_listener_get_type(), nullptr));
    PolkitSubject* subject = polkit_unix_process_new_for_owner(::getpid(), 0, ::getuid());
    GError* error = nullptr;
    // No "fallback": polkitd never uses a fallback agent for a process that
    // has no login session, which is where this agent is needed most.
    registration = polkit_agent_listener_register(listener, POLKIT_AGENT_REGISTER_FLAGS_NONE,
                                                  subject, agent_path, nullptr, &error);
    g_object_unref(subject);
    if (error != nullptr) {
        g_printerr("kelmora: cannot register an authentication agent: %s\n", error->message);
        g_error_free(error);
    }
    return registration != nullptr;
}

// On a worker: asks the main context to register, and waits for the answer.
bool start_from_worker() {
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> answer = done->get_future();
    auto* call = new std::shared_ptr<std::promise<bool>>(done);
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
            (*static_cast<std::shared_ptr<std::promise<bool>>*>(data))
                ->set_value(register_listener());
            return G_SOURCE_REMOVE;
        },
        call,
        +[](gpointer data) { delete static_cast<std::shared_ptr<std::promise<bool>>*>(data); });
    // A main loop that has ended never answers.
    if (answer.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return false;
    return answer.get();
}

}  // namespace

void enable_own_agent() {
    set_own_agent(start_from_worker);
}

}  // namespace kelmora
