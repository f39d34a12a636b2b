#include "DayChart.hpp"

#include <algorithm>

namespace somnara::gtk {

DayChart::DayChart() {
    set_name("chart");
    set_content_height(120);
    set_hexpand(true);
    set_draw_func(sigc::mem_fun(*this, &DayChart::draw));
}

void DayChart::show(std::vector<double> seconds) {
    seconds_ = std::move(seconds);
    queue_draw();
}

void DayChart::draw(const Cairo::RefPtr<Cairo::Context>& context, int width, int height) {
    const auto colour = get_style_context()->get_color();
    const double longest = seconds_.empty() ? 0.0 : *std::max_element(seconds_.begin(), seconds_.end());
    const double slot = double(width) / double(std::max<std::size_t>(seconds_.size(), 1));
    const double gap = slot * 0.2;
    for (std::size_t day = 0; day < seconds_.size(); ++day) {
        const bool played = seconds_[day] > 0;
        const double barHeight = played ? std::max(4.0, (height - 4.0) * seconds_[day] / longest) : 4.0;
        context->set_source_rgba(colour.get_red(), colour.get_green(), colour.get_blue(),
                                 played ? 0.85 : 0.25);
        context->rectangle(day * slot + gap / 2, height - barHeight, slot - gap, barHeight);
        context->fill();
    }
}

} // namespace somnara::gtk
