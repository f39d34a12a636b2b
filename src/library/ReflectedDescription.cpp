#include "ReflectedDescription.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace somnara::library {

std::string reflectedDescription(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled{
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free};
    const std::string type = status == 0 && demangled ? demangled.get() : mangled;
    return type + "(\"" + error.what() + "\")";
}

} // namespace somnara::library
