#pragma once
// What keeps the component loaded: COM objects, LockServer locks and frame
// threads, which run the component's code until their last instruction.
#include <windows.h>

namespace SecureFrameModule {

void ObjectCreated();
void ObjectDestroyed();
void Lock(bool lock);
void ThreadStarted();
void ThreadEnded();
bool CanUnload();
HINSTANCE Instance();

} // namespace SecureFrameModule
