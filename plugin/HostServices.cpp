#include <qarn/plugin/HostServices.h>

#include <cstring>

IMultiTask2* piMultiTask = nullptr;
ISerialFactory* piSerialFactory = nullptr;
ISocketFactory* piSocketFactory = nullptr;
ICDSBuffer* piCDSBuffer = nullptr;
IDiag* piDiag = nullptr;
IPermanentStorage* piPermanentStorage = nullptr;
IDriverInterface* piDriverInterface = nullptr;
ISmux* piSmux = nullptr;
IFastTimer* piFastTimer = nullptr;

bool CompareInterface(const char* requested, const char* known) {
    if (requested == nullptr || known == nullptr) {
        return false;
    }
    return std::strcmp(requested, known) == 0;
}
