#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace somnara {

/// A move-only callable wrapper: like std::function, but it can hold move-only callables such as
/// Asio completion handlers. (std::move_only_function arrives only with C++23.)
template <class Signature>
class UniqueFunction;

template <class R, class... Args>
class UniqueFunction<R(Args...)> {
public:
    UniqueFunction() = default;
    UniqueFunction(std::nullptr_t) {}

    template <class F>
    requires(!std::is_same_v<std::decay_t<F>, UniqueFunction> && std::is_invocable_r_v<R, F&, Args...>)
        UniqueFunction(F&& function)
        : callable_(std::make_unique<Model<std::decay_t<F>>>(std::forward<F>(function))) {}

    R operator()(Args... args) { return callable_->call(std::forward<Args>(args)...); }
    explicit operator bool() const noexcept { return callable_ != nullptr; }

private:
    struct Concept {
        virtual ~Concept() = default;
        virtual R call(Args... args) = 0;
    };
    template <class F>
    struct Model final : Concept {
        explicit Model(F&& f) : function(std::move(f)) {}
        explicit Model(const F& f) : function(f) {}
        R call(Args... args) override { return function(std::forward<Args>(args)...); }
        F function;
    };

    std::unique_ptr<Concept> callable_;
};

} // namespace somnara
