#include "linux/pulse/PulseServerState.hpp"

#include <pulse/volume.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace somnara {

namespace {

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

const char* portTypeByName(std::string_view portName) {
    struct Word {
        const char* word;
        const char* kind;
    };
    static constexpr Word words[] = {
        {"speaker", AudioSessionPort::builtInSpeaker}, {"headphone", AudioSessionPort::headphones},
        {"headset", AudioSessionPort::headphones},     {"hdmi", AudioSessionPort::hdmi},
        {"line", AudioSessionPort::lineOut},           {"bluetooth", AudioSessionPort::bluetoothA2DP},
        {"a2dp", AudioSessionPort::bluetoothA2DP},     {"usb", AudioSessionPort::usbAudio},
    };
    std::string name{portName};
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Word& word : words) {
        if (name.find(word.word) != std::string::npos) {
            return word.kind;
        }
    }
    return AudioSessionPort::other;
}

} // namespace

const char* audioSessionPortType(int portType, std::string_view portName, std::string_view bus) {
    if (bus == "bluetooth") {
        return AudioSessionPort::bluetoothA2DP;
    }
    if (bus == "usb") {
        return AudioSessionPort::usbAudio;
    }
    if (portName.empty()) {
        return AudioSessionPort::other;
    }
    switch (portType) {
    case PA_DEVICE_PORT_TYPE_SPEAKER:
        return AudioSessionPort::builtInSpeaker;
    case PA_DEVICE_PORT_TYPE_HEADPHONES:
    case PA_DEVICE_PORT_TYPE_HEADSET:
        return AudioSessionPort::headphones;
    case PA_DEVICE_PORT_TYPE_LINE:
    case PA_DEVICE_PORT_TYPE_SPDIF:
        return AudioSessionPort::lineOut;
    case PA_DEVICE_PORT_TYPE_HDMI:
        return AudioSessionPort::hdmi;
    case PA_DEVICE_PORT_TYPE_USB:
        return AudioSessionPort::usbAudio;
    case PA_DEVICE_PORT_TYPE_BLUETOOTH:
        return AudioSessionPort::bluetoothA2DP;
    default:
        return portTypeByName(portName);
    }
}

PulseSink PulseSink::from(const pa_sink_info& info) {
    PulseSink sink;
    sink.name = text(info.name);
    sink.description = text(info.description);
    int portType = PA_DEVICE_PORT_TYPE_UNKNOWN;
    if (info.active_port != nullptr) {
        sink.port = text(info.active_port->name);
        sink.portDescription = text(info.active_port->description);
        portType = info.active_port->type;
    }
    sink.portType =
        audioSessionPortType(portType, sink.port, text(pa_proplist_gets(info.proplist, "device.bus")));
    for (std::uint32_t i = 0; i < info.n_ports; ++i) {
        if (info.ports[i]->available == PA_PORT_AVAILABLE_NO) {
            sink.unavailablePorts.push_back(text(info.ports[i]->name));
        }
    }
    // Above 100 % the server amplifies; the session's volume stops at full.
    const double volume = static_cast<double>(pa_cvolume_max(&info.volume)) / PA_VOLUME_NORM;
    sink.volume = info.mute != 0 ? 0.0F : static_cast<float>(std::min(volume, 1.0));
    sink.rate = info.sample_spec.rate;
    return sink;
}

AudioSessionPortDescription PulseSink::output() const {
    return {portType, port.empty() ? description : portDescription, port.empty() ? name : name + ":" + port};
}

bool PulseSink::isPortUnavailable(const std::string& name) const {
    return std::find(unavailablePorts.begin(), unavailablePorts.end(), name) != unavailablePorts.end();
}

const PulseSink* PulseServerState::find(const std::string& name) const {
    const auto sink =
        std::find_if(sinks.begin(), sinks.end(), [&](const PulseSink& s) { return s.name == name; });
    return sink != sinks.end() ? &*sink : nullptr;
}

} // namespace somnara
