// The cheap flags of a prepared request, and what its space holds.
#include "selection/requests/prepared_request.hpp"

namespace kestrava::planner {

namespace {

// Over the form's own comparison: words compare inline, in the loop.
template <class Prices>
std::size_t mark_with(const Prices& prices, const rules::Conditions& conditions, std::vector<std::uint8_t>& cheap) {
    std::size_t count = 0;
    if (conditions.most_expensive) {
        for (std::size_t i = 0; i < cheap.size(); ++i) {
            cheap[i] = conditions.is_allowed(i) && prices.is_dear(i) ? 1 : 0;
            count += cheap[i];
        }
        return count;
    }
    for (std::size_t i = 0; i < cheap.size(); ++i) {
        cheap[i] = conditions.is_allowed(i) && prices.is_cheap(i) ? 1 : 0;
        count += cheap[i];
    }
    return count;
}

}  // namespace

std::size_t mark_cheap(PreparedRequest& request) {
    const PriceUnits& units = *request.units;
    request.cheap.resize(units.size());
    if (units.in_words()) return mark_with(units.word_prices(), *request.conditions, request.cheap);
    return mark_with(units, *request.conditions, request.cheap);
}

PreparedRequest& prepare(PreparedSpace& space, const SelectionRules& rules, const rules::Conditions& conditions,
                         bool aggressive, RequestMemory* memory) noexcept {
    PreparedRequest& request = space.request;
    request.units = &space.units;
    request.rules = rules;
    request.conditions = &conditions;
    request.aggressive = aggressive;
    request.memory = memory;
    return request;
}

std::size_t PreparedSpace::held_bytes() const noexcept {
    const rules::Shape& shape = request.shape;
    return units.held_bytes() + request.cheap.capacity() +
           shape.cheap.capacity() + shape.allowed.capacity() +
           (shape.run_first.capacity() + shape.run_last.capacity()) * sizeof(int) +
           shape.stalled.capacity() * sizeof(rules::PeriodStretch);
}

}  // namespace kestrava::planner
