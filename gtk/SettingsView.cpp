#include "SettingsView.hpp"

#include <gtkmm/adjustment.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/scale.h>
#include <gtkmm/spinbutton.h>
#include <gtkmm/stringlist.h>
#include <gtkmm/switch.h>
#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace somnara::gtk {

namespace {

std::string numberText(double value) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string(text.data(), end);
}

double numberIn(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string title(const SettingsField& field) {
    return field.description + (field.unit.empty() ? "" : " (" + field.unit + ")");
}

} // namespace

SettingsView::SettingsView(DaemonProxy& daemon) : daemon_(daemon) {
    set_name("settings");
    fields_.set_row_spacing(6);
    fields_.set_column_spacing(12);
    int row = 0;
    for (const auto& field : SettingsField::all()) {
        if (field.kind == SettingsField::Kind::gains) {
            for (int band = 0; band < SoundSettings::equalizerBandsCount; ++band) {
                bands_.append(control(*SettingsField::named("eq." + std::to_string(band))));
            }
            fields_.attach(*Gtk::make_managed<Gtk::Label>(title(field), Gtk::Align::START), 0, row);
            fields_.attach(bands_, 1, row++);
            continue;
        }
        fields_.attach(*Gtk::make_managed<Gtk::Label>(title(field), Gtk::Align::START), 0, row);
        auto& widget = control(field);
        widget.set_hexpand(true);
        widget.set_tooltip_text(field.path + ": " + field.allowedText());
        fields_.attach(widget, 1, row++);
    }
    std::vector<Glib::ustring> names;
    for (const auto preset : SoundSettings::allPresets) {
        names.emplace_back(std::string(presetName(preset)));
    }
    presets_.set_model(Gtk::StringList::create(names));
    auto* apply = Gtk::make_managed<Gtk::Button>("Apply preset");
    apply->signal_clicked().connect([this] {
        const auto chosen =
            SoundSettings::soundSettings(SoundSettings::allPresets.at(presets_.get_selected()));
        change([chosen](NoisePlayerSettings settings) { return settings.withSoundSettings(chosen); });
    });
    auto* reset = Gtk::make_managed<Gtk::Button>("Reset");
    reset->signal_clicked().connect([this] {
        change([](NoisePlayerSettings settings) {
            return settings.withSoundSettings(SoundSettings::defaultValue());
        });
    });
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    buttons->append(presets_);
    buttons->append(*apply);
    buttons->append(*reset);
    page_.set_margin(18);
    page_.append(*buttons);
    page_.append(fields_);
    set_child(page_);
}

void SettingsView::load() {
    daemon_.call(app::bus::settingsInterface, "Get", std::tuple{}, [this](std::string text) {
        show(NoisePlayerSettings::fromJSON(nlohmann::json::parse(text)));
    });
}

Gtk::Widget& SettingsView::control(const SettingsField& field) {
    const auto changeTo = [this, field](const std::string& text) {
        if (!showing_) {
            change([&](NoisePlayerSettings settings) { return field.changed(std::move(settings), text); });
        }
    };
    if (field.kind == SettingsField::Kind::flag) {
        auto* toggle = Gtk::make_managed<Gtk::Switch>();
        toggle->set_halign(Gtk::Align::START);
        toggle->property_active().signal_changed().connect(
            [toggle, changeTo] { changeTo(toggle->get_active() ? "true" : "false"); });
        shows_.push_back([toggle, field](const NoisePlayerSettings& settings) {
            toggle->set_active(field.valueText(settings) == "true");
        });
        return *toggle;
    }
    const bool bounded = !std::isinf(field.range.upperBound);
    const auto adjustment = Gtk::Adjustment::create(
        field.range.lowerBound, field.range.lowerBound,
        bounded ? field.range.upperBound : std::numeric_limits<double>::max(), 0.01, 0.1);
    // The control owns the adjustment.
    auto* value = adjustment.get();
    value->signal_value_changed().connect([value, changeTo] { changeTo(numberText(value->get_value())); });
    shows_.push_back([value, field](const NoisePlayerSettings& settings) {
        value->set_value(numberIn(field.valueText(settings)));
    });
    // A field without an upper bound ("0 s or more") cannot be a slider.
    if (!bounded) {
        auto* spin = Gtk::make_managed<Gtk::SpinButton>(adjustment, 0.1, 2);
        spin->set_halign(Gtk::Align::START);
        return *spin;
    }
    const auto band = field.band.has_value();
    auto* scale = Gtk::make_managed<Gtk::Scale>(adjustment, band ? Gtk::Orientation::VERTICAL
                                                                 : Gtk::Orientation::HORIZONTAL);
    scale->set_name(field.path);
    scale->set_value_pos(band ? Gtk::PositionType::BOTTOM : Gtk::PositionType::RIGHT);
    scale->set_digits(2);
    scale->set_draw_value(true);
    if (band) {
        scale->set_inverted(true);
        scale->set_size_request(-1, 140);
    }
    return *scale;
}

void SettingsView::change(const std::function<NoisePlayerSettings(NoisePlayerSettings)>& change) {
    try {
        settings_ = change(settings_);
    } catch (const std::invalid_argument& error) {
        daemon_.signalError().emit(error.what());
        return;
    }
    daemon_.call(app::bus::settingsInterface, "Set", std::tuple{settings_.encode()});
    show(settings_);
}

void SettingsView::show(const NoisePlayerSettings& settings) {
    settings_ = settings;
    showing_ = true;
    for (const auto& show : shows_) {
        show(settings);
    }
    showing_ = false;
    g_debug("settings shown");
}

} // namespace somnara::gtk
