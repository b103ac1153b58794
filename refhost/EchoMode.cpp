#include <qarn/refhost/EchoMode.h>

#include <strings.h>

namespace refhost {

const char* echoModeName(EchoMode mode) {
    switch (mode) {
        case EchoMode::On:
            return "on";
        case EchoMode::Off:
            return "off";
        case EchoMode::Auto:
            break;
    }
    return "auto";
}

bool parseEchoMode(const std::string& text, EchoMode& mode) {
    for (const EchoMode m : {EchoMode::Auto, EchoMode::On, EchoMode::Off}) {
        if (strcasecmp(text.c_str(), echoModeName(m)) == 0) {
            mode = m;
            return true;
        }
    }
    return false;
}

}  // namespace refhost
