// Exported factories of the plug-in.
extern "C" {
void* createICoordinatorInstance(const char*) { return nullptr; }
void* createIControllerInstance(const char*) { return nullptr; }
void* createClientBrowseInstance(int) { return nullptr; }
}
