#include "RecordingHost.h"

#include <stdexcept>

namespace qarntest {

const std::vector<std::string>& RecordingHost::serviceNames() {
    static const std::vector<std::string> names = {
        "IMultiTask2",       "ISerialFactory",   "ISocketFactory", "ICDSBuffer", "IDiag",
        "IPermanentStorage", "IDriverInterface", "ISmux",          "IFastTimer"};
    return names;
}

RecordingHost::RecordingHost() {
    // In the order of serviceNames().
    IInterface* const objects[] = {static_cast<IMultiTask2*>(&multiTask_),
                                   static_cast<ISerialFactory*>(&serialFactory_),
                                   static_cast<ISocketFactory*>(&socketFactory_),
                                   static_cast<ICDSBuffer*>(&cdsBuffer_),
                                   static_cast<IDiag*>(&diag_),
                                   static_cast<IPermanentStorage*>(&store_),
                                   static_cast<IDriverInterface*>(&driverInterface_),
                                   static_cast<ISmux*>(&smux_),
                                   static_cast<IFastTimer*>(&fastTimer_)};
    for (std::size_t i = 0; i < serviceNames().size(); ++i) {
        slots_.push_back({serviceNames()[i], objects[i], false});
    }
}

IInterface* RecordingHost::CreateInterface(const char* name) {
    IInterface* answer = nullptr;
    if (name != nullptr) {
        for (const Slot& s : slots_) {
            if (s.name == name) {
                answer = s.withheld ? nullptr : s.object;
                break;
            }
        }
    }
    calls_.push_back({Op::Create, name != nullptr ? name : "", answer});
    return answer;
}

void RecordingHost::ReleaseInterface(IInterface* object) {
    calls_.push_back({Op::Release, nameOf(object), object});
}

void RecordingHost::withhold(const std::string& name) {
    slot(name).withheld = true;
}

void RecordingHost::deliver(const std::string& name) {
    slot(name).withheld = false;
}

void RecordingHost::withholdOptional() {
    for (const char* name :
         {"IDiag", "IPermanentStorage", "IDriverInterface", "ISmux", "IFastTimer"}) {
        withhold(name);
    }
}

IInterface* RecordingHost::service(const std::string& name) const {
    for (const Slot& s : slots_) {
        if (name == s.name) {
            return s.object;
        }
    }
    return nullptr;
}

std::string RecordingHost::nameOf(const IInterface* object) const {
    for (const Slot& s : slots_) {
        if (object != nullptr && s.object == object) {
            return s.name;
        }
    }
    return std::string();
}

std::vector<std::string> RecordingHost::names(Op op) const {
    std::vector<std::string> result;
    for (const Call& call : calls_) {
        if (call.op == op) {
            result.push_back(call.name);
        }
    }
    return result;
}

RecordingHost::Slot& RecordingHost::slot(const std::string& name) {
    for (Slot& s : slots_) {
        if (name == s.name) {
            return s;
        }
    }
    throw std::invalid_argument("no host service named " + name);
}

}  // namespace qarntest
