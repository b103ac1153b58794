// The generic diagnostic console of every protocol and its information text.

#include <cstdio>
#include <string>
#include <vector>

#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IMultiTask2.h>
#include <qarn/host/ISerialFactory.h>
#include <qarn/host/ISocketFactory.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/ProtocolBase.h>
#include <qarn/protlib/WorkBuffer.h>

namespace {

const char HelpText[] =
    "help - displays this message\n"
    "info - displays information about the protocol version\n"
    "xml  - displays the protocol xml description\n"
    "read uri - reads data pointed by uri string\n"
    "write uri hexData - writes data pointed by uri string\n"
    "lasterror - displays the last protocol error\n"
    "getmaxtm - displays the max time for executing a single read/write access\n";

const char MissingUri[] = "error: missing parameter (URI string)\n";
const char MissingUriAndData[] = "error: missing parameters (URI string + data)\n";
const char BadDataLength[] = "error: incorrect length of data to write\n";
const char BadHexData[] = "error: incorrect hex data\n";
const char WrittenOk[] = "written ok\n";
const char BufferErrorText[] = "Can't allocate buffer";

constexpr int ProtocolBaseVersion = 100;
// Values up to this size are read or written by the console without the heap.
constexpr int LocalValueSize = 64;
// "read" stops adding digits once this little room is left for them, the line feed and the NUL.
constexpr int ReadReplyReserve = 4;

// Copies like strncpy: at most `size` bytes, NUL-padded, unterminated when the text fills it.
void copyReply(char* reply, int size, const char* text) {
    if (reply == nullptr || size <= 0) {
        return;
    }
    if (text == nullptr) {
        text = "";
    }
    int i = 0;
    for (; i < size && text[i] != '\0'; ++i) {
        reply[i] = text[i];
    }
    for (; i < size; ++i) {
        reply[i] = '\0';
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Character stream over a caller's buffer: writes until the buffer is full and counts what it
// wrote. A null text fails the stream, and a failed stream writes nothing more.
class InfoStream {
  public:
    InfoStream(char* buffer, int size)
        : out(buffer), room(buffer != nullptr && size > 0 ? size : 0) {}

    InfoStream& operator<<(const char* text) {
        if (failed) {
            return *this;
        }
        if (text == nullptr) {
            failed = true;
            return *this;
        }
        while (*text != '\0' && written < room) {
            out[written++] = *text++;
        }
        return *this;
    }
    InfoStream& operator<<(int value) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", value);
        return *this << static_cast<const char*>(digits);
    }
    int count() const { return written; }

  private:
    char* out;
    int room;
    int written = 0;
    bool failed = false;
};

void serviceLine(InfoStream& info, const IInterface* service) {
    if (service != nullptr) {
        info << service->GetImpName() << " v." << service->GetImpVersion() << "\n";
    }
}

}  // namespace

int ProtocolBase::GetInfo(char* buffer, int size) const {
    InfoStream info(buffer, size);
    info << "Protocol: " << GetName() << " (" << GetProtocolType() << ")"
         << " v." << GetProtocolVersion() << "\n";
    info << "Implementation: " << GetImpName() << " v." << GetImpVersion() << "\n";
    info << "ProtocolBase"
         << " v." << ProtocolBaseVersion << "\n";
    info << "ProtLib v." << ProtUtilsN::GetVersion() << "\n";
    if (!IsConverted()) {
        serviceLine(info, piMultiTask);
        serviceLine(info, piSerialFactory);
        serviceLine(info, piSocketFactory);
    }
    return info.count();
}

int ProtocolBase::DoCommand(const char* command, char* reply, int size) {
    if (command == nullptr) {
        return 0;
    }
    std::vector<std::string> words;
    ProtUtilsN::ParseSubstrings(command, words, ' ');
    const std::string& verb = words.front();

    if (verb == "help") {
        copyReply(reply, size, HelpText);
        return 1;
    }
    if (verb == "info") {
        const int count = GetInfo(reply, size);
        if (reply != nullptr && count < size) {
            reply[count] = '\0';
        }
        return 1;
    }
    if (verb == "xml") {
        copyReply(reply, size, GetXml());
        return 1;
    }
    if (verb == "lasterror") {
        copyReply(reply, size, GetLastErrorString());
        return 1;
    }
    if (verb == "getmaxtm") {
        char text[48];
        std::snprintf(text, sizeof text, "maxtm = %d ms\n", GetMaxTm(nullptr));
        copyReply(reply, size, text);
        return 1;
    }
    if (verb == "deletetags") {
        DeleteTags();
        return 1;
    }

    if (verb == "read") {
        if (words.size() != 2) {
            copyReply(reply, size, MissingUri);
            return 1;
        }
        ITag* tag = CreateTag(words[1].c_str());
        if (tag == nullptr) {
            copyReply(reply, size, GetLastErrorString());
            return 1;
        }
        const int length = tag->GetVarLength();
        WorkBuffer<LocalValueSize> value(length);
        if (!value.ok()) {
            SetError(ErrorCode::Allocation, BufferErrorText);
            copyReply(reply, size, GetLastErrorString());
        } else if (!Read(tag, value.data())) {
            copyReply(reply, size, GetLastErrorString());
        } else if (reply != nullptr && size > 0) {
            static const char Digits[] = "0123456789abcdef";
            int pos = 0;
            for (int i = 0; i < value.size() && size - pos > ReadReplyReserve; ++i) {
                reply[pos++] = Digits[value.data()[i] >> 4];
                reply[pos++] = Digits[value.data()[i] & 0x0F];
            }
            // A reply of a single byte keeps only the terminator.
            if (size - pos >= 2) {
                reply[pos++] = '\n';
            }
            reply[pos] = '\0';
        }
        FreeTag(tag);
        return 1;
    }

    if (verb == "write") {
        if (words.size() != 3) {
            copyReply(reply, size, MissingUriAndData);
            return 1;
        }
        ITag* tag = CreateTag(words[1].c_str());
        if (tag == nullptr) {
            copyReply(reply, size, GetLastErrorString());
            return 1;
        }
        const std::string& data = words[2];
        const int length = tag->GetVarLength();
        WorkBuffer<LocalValueSize> value(length);
        if (length < 0 || data.size() != 2 * static_cast<size_t>(length)) {
            copyReply(reply, size, BadDataLength);
        } else if (!value.ok()) {
            SetError(ErrorCode::Allocation, BufferErrorText);
            copyReply(reply, size, GetLastErrorString());
        } else {
            bool good = true;
            for (int i = 0; i < length && good; ++i) {
                // The low half-byte's character is checked first.
                const int low = hexDigit(data[2 * static_cast<size_t>(i) + 1]);
                const int high = low < 0 ? -1 : hexDigit(data[2 * static_cast<size_t>(i)]);
                good = high >= 0;
                if (good) {
                    value.data()[i] = static_cast<uint8_t>((high << 4) | low);
                }
            }
            if (!good) {
                copyReply(reply, size, BadHexData);
            } else if (Write(tag, value.data())) {
                copyReply(reply, size, WrittenOk);
            } else {
                copyReply(reply, size, GetLastErrorString());
            }
        }
        FreeTag(tag);
        return 1;
    }
    return 0;
}
