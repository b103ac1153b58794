// The driver's console commands and the node-id override table they change.

#include <qarn/driver/Protocol_QARN.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <qarn/host/IPermanentStorage.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/protlib/ProtUtilsN.h>

namespace {

constexpr char DriverHelp[] =
    "setid n m - set the node id n to m\ngetid - get all changed node id's\n";

// Copies as much of `text` as fits, always NUL-terminated; nothing when there is no room.
void copyTruncated(char* out, int room, const char* text) {
    if (out == nullptr || room <= 0) {
        return;
    }
    const size_t length = std::min(std::strlen(text), static_cast<size_t>(room - 1));
    std::memcpy(out, text, length);
    out[length] = '\0';
}

}  // namespace

void Protocol_QARN::setOverride(int configured, int actual) {
    replacer.set(configured, actual);
    if (piPermanentStorage == nullptr) {
        return;
    }
    // Keys and values are formatted on the stack: a write to "NO" allocates nothing here.
    char key[48];
    std::snprintf(key, sizeof(key), "%s%d", replacer.getPrefix().c_str(), configured);
    if (actual == configured) {
        piPermanentStorage->RemoveValue(GetIdent(), key);
    } else {
        char value[16];
        std::snprintf(value, sizeof(value), "%d", actual);
        piPermanentStorage->SetValue(GetIdent(), key, value);
    }
}

int Protocol_QARN::DoCommand(const char* command, char* reply, int size) {
    std::vector<std::string> words;
    ProtUtilsN::ParseSubstrings(command != nullptr ? command : "", words, ' ');
    const std::string verb = words.empty() ? std::string() : words.front();

    if (verb == "help") {
        char* out = reply;
        int room = size;
        if (ProtocolBase::DoCommand(command, reply, size) != 0 && reply != nullptr && size > 0) {
            // The base text may fill the buffer without a terminating NUL.
            const void* end = std::memchr(reply, '\0', static_cast<size_t>(size));
            const int used =
                end != nullptr ? static_cast<int>(static_cast<const char*>(end) - reply) : size;
            out += used;
            room -= used;
        }
        copyTruncated(out, room, DriverHelp);
        return 1;
    }
    if (verb == "setid") {
        if (words.size() != 3) {
            copyTruncated(reply, size, "invalid format\n");
            return 1;
        }
        const int configured = _QARN::toInt(words[1].c_str());
        int actual = _QARN::toInt(words[2].c_str());
        if (actual == 0) {
            actual = configured;
        }
        setOverride(configured, actual);
        char line[64];
        std::snprintf(line, sizeof(line), "id %d set to %d\n", configured, actual);
        copyTruncated(reply, size, line);
        return 1;
    }
    if (verb == "getid") {
        copyTruncated(reply, size, "no node configurated\n");
        int used = 0;
        for (const AddressReplacerID::Pair& pair : replacer.getPairs()) {
            char line[64];
            const int length =
                std::snprintf(line, sizeof(line), "id %d -> %d\n", pair.first, pair.second);
            if (reply == nullptr || length < 0 || used + length + 1 > size) {
                break;
            }
            std::memcpy(reply + used, line, static_cast<size_t>(length) + 1);
            used += length;
        }
        return 1;
    }
    return ProtocolBase::DoCommand(command, reply, size);
}
