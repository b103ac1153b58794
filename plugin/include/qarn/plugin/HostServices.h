#pragma once
// Module-wide host services. One set per loaded library, shared by every protocol instance;
// written only by ProtModule::Init, ProtModule::Close and the module's destruction, null while the
// module is not initialised or when the host did not deliver that service.

class IMultiTask2;
class ISerialFactory;
class ISocketFactory;
class ICDSBuffer;
class IDiag;
class IPermanentStorage;
class IDriverInterface;
class ISmux;
class IFastTimer;

extern IMultiTask2* piMultiTask;
extern ISerialFactory* piSerialFactory;
extern ISocketFactory* piSocketFactory;
extern ICDSBuffer* piCDSBuffer;
extern IDiag* piDiag;
extern IPermanentStorage* piPermanentStorage;
extern IDriverInterface* piDriverInterface;
extern ISmux* piSmux;
extern IFastTimer* piFastTimer;

// Interface names are compared byte for byte: case matters, nothing is trimmed.
bool CompareInterface(const char* requested, const char* known);
