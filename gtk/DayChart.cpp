#include "DayChart.hpp"

namespace somnara::gtk {

DayChart::DayChart() {
    set_name("chart");
    set_content_height(120);
    set_hexpand(true);
    set_draw_func(sigc::mem_fun(*this, &DayChart::draw));
}

void DayChart::show(std::set<long> playedDaysAgo) {
    played_ = std::move(playedDaysAgo);
    queue_draw();
}

void DayChart::draw(const Cairo::RefPtr<Cairo::Context>& context, int width, int height) {
    const auto colour = get_style_context()->get_color();
    const double slot = double(width) / days;
    const double gap = slot * 0.2;
    for (int day = 0; day < days; ++day) {
        const bool played = played_.contains(days - 1 - day);
        const double barHeight = played ? height - 4.0 : 4.0;
        context->set_source_rgba(colour.get_red(), colour.get_green(), colour.get_blue(),
                                 played ? 0.85 : 0.25);
        context->rectangle(day * slot + gap / 2, height - barHeight, slot - gap, barHeight);
        context->fill();
    }
}

} // namespace somnara::gtk
