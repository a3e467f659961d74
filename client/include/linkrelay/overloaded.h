// One visitor made of several lambdas, for std::visit over Event.
#pragma once

namespace linkrelay {

template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace linkrelay
