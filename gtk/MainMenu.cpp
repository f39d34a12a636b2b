#include "MainMenu.hpp"

#include <adwaita.h>
#include <gtkmm/window.h>

namespace somnara::gtk {

namespace {

using Mix = sdbus::Struct<std::string, std::string, std::map<std::string, double>>;

std::string nameIn(const Glib::VariantBase& name) {
    return Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(name).get().raw();
}

} // namespace

MainMenu::MainMenu(DaemonProxy& daemon)
    : daemon_(daemon), actions_(Gio::SimpleActionGroup::create()), pick_(Gio::Menu::create()),
      remove_(Gio::Menu::create()) {
    using app::bus::mixesInterface;
    set_name("menu");
    set_icon_name("open-menu-symbolic");
    actions_->add_action("save-mix", [this] { askForMixName(); });
    actions_->add_action_with_parameter("select-mix", Glib::VARIANT_TYPE_STRING,
                                        [this](const Glib::VariantBase& name) {
                                            daemon_.call(mixesInterface, "Select", std::tuple{nameIn(name)});
                                        });
    actions_->add_action_with_parameter(
        "delete-mix", Glib::VARIANT_TYPE_STRING, [this](const Glib::VariantBase& name) {
            daemon_.call(mixesInterface, "Delete", std::tuple{nameIn(name)}, [](std::uint32_t) {});
        });
    insert_action_group("menu", actions_);

    const auto mixes = Gio::Menu::create();
    mixes->append("Save the selection as a mix…", "menu.save-mix");
    mixes->append_submenu("Mixes", pick_);
    mixes->append_submenu("Delete a mix", remove_);
    const auto pages = Gio::Menu::create();
    pages->append("Settings", "win.settings");
    pages->append("Statistics", "win.statistics");
    pages->append("Lossless downloads", "win.downloads");
    const auto root = Gio::Menu::create();
    root->append_section(mixes);
    root->append_section(pages);
    set_menu_model(root);
    // The open menu follows its model, so the list can arrive after it has opened.
    set_create_popup_func([this] { listMixes(); });
}

void MainMenu::listMixes() {
    daemon_.call(app::bus::mixesInterface, "List", std::tuple{}, [this](std::vector<Mix> mixes) {
        pick_->remove_all();
        remove_->remove_all();
        for (const auto& mix : mixes) {
            const auto& name = mix.get<1>();
            const auto target = Glib::Variant<Glib::ustring>::create(name);
            const auto chosen = Gio::MenuItem::create(name, "");
            chosen->set_action_and_target("menu.select-mix", target);
            pick_->append_item(chosen);
            const auto deleted = Gio::MenuItem::create(name, "");
            deleted->set_action_and_target("menu.delete-mix", target);
            remove_->append_item(deleted);
        }
    });
}

void MainMenu::askForMixName() {
    auto* window = dynamic_cast<Gtk::Window*>(get_root());
    auto* dialog = adw_message_dialog_new(window != nullptr ? window->gobj() : nullptr, "Save the mix",
                                          "The selection is saved under this name.");
    auto* entry = gtk_entry_new();
    adw_message_dialog_set_extra_child(ADW_MESSAGE_DIALOG(dialog), entry);
    adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(dialog), "cancel", "Cancel", "save", "Save", nullptr);
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "save");
    gtk_entry_set_activates_default(GTK_ENTRY(entry), true);
    g_object_set_data(G_OBJECT(dialog), "entry", entry);
    g_signal_connect(
        dialog, "response::save", G_CALLBACK(+[](AdwMessageDialog* dialog, const char*, gpointer menu) {
            auto* entry = GTK_EDITABLE(g_object_get_data(G_OBJECT(dialog), "entry"));
            static_cast<MainMenu*>(menu)->daemon_.call(app::bus::mixesInterface, "Save",
                                                       std::tuple{std::string(gtk_editable_get_text(entry))},
                                                       [](std::string) {});
        }),
        this);
    gtk_window_present(GTK_WINDOW(dialog));
}

} // namespace somnara::gtk
