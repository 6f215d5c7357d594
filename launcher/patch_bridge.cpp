// The lazy loader of the patch functions and one bridge operation per entry
// point. The functions come from "patcher.dll" in the current directory, or,
// when that library cannot be loaded, from the table the host gave to
// VantrelServerController_Init.
//
// The first load is guarded: two AIR connections asking at the same moment run
// the loader once, and the second waits for its outcome instead of seeing a
// half-made one. The lock is held only while loading; entry points always run
// without it, so a slow install on one connection never blocks another.
#include "launcher/patch_bridge.h"

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstddef>

#include "VantrelServerController.h"
#include "core/log.h"
#include "core/platform/bounded_string.h"
#include "core/platform/library.h"
#include "core/platform/mutex.h"
#include "core/platform/paths.h"
#include "launcher/server_controller.h"

namespace {

// Slot numbers: the entry point order, which is also the host table's layout.
enum PatchSlot : size_t {
    kGameVersionToPath = 1,
    kInstallGameVersion,
    kCancelInstallGame,
    kGetInstallGameProgress,
    kPreviewGameVersion,
    kCancelPreviewGame,
    kGetPreviewGameProgress,
    kUninstallGameVersion,
    kCancelUninstallGame,
    kGetUninstallGameProgress,
    kPreviewUninstallGameVersion,
    kCancelPreviewUninstallGame,
    kGetPreviewUninstallGameProgress,
    kEnumerateInstalledGameVersions,
    kEnumerateUninstallableGameVersions,
    kEnumerateLatestGameVersions,
    kInstalledGameVersionSize,
    kPatchSlotCount
};

constexpr const char* kEntryPointNames[kPatchSlotCount] = {
    nullptr,
    "GameVersionToPath",
    "InstallGameVersion",
    "CancelInstallGame",
    "GetInstallGameProgress",
    "PreviewGameVersion",
    "CancelPreviewGame",
    "GetPreviewGameProgress",
    "UninstallGameVersion",
    "CancelUninstallGame",
    "GetUninstallGameProgress",
    "PreviewUninstallGameVersion",
    "CancelPreviewUninstallGame",
    "GetPreviewUninstallGameProgress",
    "EnumerateInstalledGameVersions",
    "EnumerateUninstallableGameVersions",
    "EnumerateLatestGameVersions",
    "InstalledGameVersionSize",
};

constexpr char kPatchLibraryName[] = "patcher.dll";
constexpr size_t kVersionLineSize = 128;
constexpr size_t kLoaderLineSize = 320;

// -1 not yet tried, 0 unavailable, 1 every slot usable.
std::atomic<int32_t> patchSupportState{-1};
std::atomic<VantrelPatchFunction> patchSlots[kPatchSlotCount];
// Once loaded, the patch library stays loaded for the life of the process.
std::atomic<Drux::LibraryHandle> patchLibrary{nullptr};

const boost::shared_ptr<Drux::Mutex>& loaderLock() {
    static const boost::shared_ptr<Drux::Mutex> lock = Drux::createMutex();
    return lock;
}

// "<current directory>/patcher.dll" into path (kMaxPath bytes). A directory
// that cannot be read (also one longer than kMaxPath), or whose path leaves no
// room for the file name, gives false: a cut path could name another file.
bool patchLibraryPath(char* path) {
    char directory[Drux::kMaxPath] = {};
    if (!Drux::currentDirectory(directory, sizeof directory) ||
        !Drux::joinPath(path, Drux::kMaxPath, directory, kPatchLibraryName)) {
        Drux::LogError("Could not build the path of patcher.dll: the current directory is unreadable or too long.\n");
        return false;
    }
    return true;
}

// Fills the slots from the patch library, or from the host's table when the
// library cannot be loaded. Returns the state to publish (0 or 1).
int32_t LoadPatchSupport() {
    char path[Drux::kMaxPath] = {};
    Drux::LibraryHandle library = patchLibraryPath(path) ? Drux::loadLibrary(path) : nullptr;

    if (library != nullptr) {
        patchLibrary.store(library);
        bool complete = true;
        for (size_t slot = 1; slot < kPatchSlotCount; ++slot) {
            void* symbol = Drux::findSymbol(library, kEntryPointNames[slot]);
            patchSlots[slot].store(reinterpret_cast<VantrelPatchFunction>(symbol));
            if (symbol == nullptr) {
                Drux::LogErrorF(kLoaderLineSize, "Could not load %s\n", kEntryPointNames[slot]);
                complete = false;
            }
        }
        // A library that lacks an entry point leaves patch support off; the
        // host's table is then not consulted.
        return complete ? 1 : 0;
    }

    const VantrelServerControllerStruct* controller = Drux::currentController();
    const PatchFunctionTable* table = controller != nullptr ? controller->patchSupportTable : nullptr;
    if (table != nullptr) {
        Drux::LogInfo("Using VOLP back patching support.\n");
        for (size_t slot = 0; slot < kPatchSlotCount; ++slot) {
            patchSlots[slot].store(table->functions[slot]);
            // A hole in the host's table is named; that one operation then
            // answers as a failure instead of calling through null.
            if (slot > 0 && table->functions[slot] == nullptr)
                Drux::LogErrorF(kLoaderLineSize, "Could not load %s\n", kEntryPointNames[slot]);
        }
        return 1;
    }

    Drux::LogInfo("Could not load patching support. Back patching support for replays is disabled.\n");
    return 0;
}

// Calls the slot's entry point, of type Function, with args; 0 without patch
// support or when the host's table left that entry point out.
template <typename Function, typename... Args>
int32_t callEntryPoint(PatchSlot slot, Args... args) {
    if (!EnsurePatchSupport()) return 0;
    const auto function = reinterpret_cast<Function>(patchSlots[slot].load());
    return function != nullptr ? function(args...) : 0;
}

// The text a log line shows for a version the message did not carry.
const char* printable(const char* text) { return text != nullptr ? text : "(null)"; }

int32_t callVersionCommand(PatchSlot slot, const char* version) {
    return callEntryPoint<VantrelPatchVersionCommandFn>(slot, version);
}

int32_t callCancel(PatchSlot slot) { return callEntryPoint<VantrelPatchCancelFn>(slot); }

int32_t callTextQuery(PatchSlot slot, char* buffer) {
    return callEntryPoint<VantrelPatchTextQueryFn>(slot, buffer, static_cast<int32_t>(kPatchTextSize));
}

}  // namespace

int32_t EnsurePatchSupport() {
    int32_t state = patchSupportState.load(std::memory_order_acquire);
    if (state < 0) {
        Drux::ScopedLock guard(loaderLock());
        state = patchSupportState.load(std::memory_order_acquire);
        if (state < 0) {
            state = LoadPatchSupport();
            patchSupportState.store(state, std::memory_order_release);
        }
    }
    return state != 0 ? 1 : 0;
}

int32_t PatchBridge_GameVersionToPath(const char* version, char* path) {
    return callEntryPoint<VantrelPatchGameVersionToPathFn>(kGameVersionToPath, version, path,
                                                           static_cast<int32_t>(kPatchPathSize));
}

int32_t PatchBridge_InstallGameVersion(const char* version) {
    Drux::LogInfoF(kVersionLineSize, "Installing game version %s\n", printable(version));
    return callVersionCommand(kInstallGameVersion, version);
}

int32_t PatchBridge_CancelInstallGame() {
    Drux::LogInfo("Cancelling game install\n");
    return callCancel(kCancelInstallGame);
}

int32_t PatchBridge_GetInstallGameProgress(char* buffer) { return callTextQuery(kGetInstallGameProgress, buffer); }

int32_t PatchBridge_PreviewGameVersion(const char* version) {
    Drux::LogInfoF(kVersionLineSize, "Previewing game version %s\n", printable(version));
    return callVersionCommand(kPreviewGameVersion, version);
}

int32_t PatchBridge_CancelPreviewGame() {
    Drux::LogInfo("Cancelling game preview\n");
    return callCancel(kCancelPreviewGame);
}

int32_t PatchBridge_GetPreviewGameProgress(char* buffer) { return callTextQuery(kGetPreviewGameProgress, buffer); }

int32_t PatchBridge_UninstallGameVersion(const char* version) {
    Drux::LogInfoF(kVersionLineSize, "Uninstalling game version %s\n", printable(version));
    return callVersionCommand(kUninstallGameVersion, version);
}

int32_t PatchBridge_CancelUninstallGame() {
    Drux::LogInfo("Cancelling uninstall\n");
    return callCancel(kCancelUninstallGame);
}

int32_t PatchBridge_GetUninstallGameProgress(char* buffer) { return callTextQuery(kGetUninstallGameProgress, buffer); }

int32_t PatchBridge_PreviewUninstallGameVersion(const char* version) {
    Drux::LogInfoF(kVersionLineSize, "Previewing uninstall version %s\n", printable(version));
    return callVersionCommand(kPreviewUninstallGameVersion, version);
}

int32_t PatchBridge_CancelPreviewUninstallGame() {
    Drux::LogInfo("Cancelling uninstall preview\n");
    return callCancel(kCancelPreviewUninstallGame);
}

int32_t PatchBridge_GetPreviewUninstallGameProgress(char* buffer) {
    return callTextQuery(kGetPreviewUninstallGameProgress, buffer);
}

int32_t PatchBridge_EnumerateInstalledGameVersions(char* buffer) {
    Drux::LogInfo("Enumerating installed game versions\n");
    return callTextQuery(kEnumerateInstalledGameVersions, buffer);
}

int32_t PatchBridge_EnumerateUninstallableGameVersions(char* buffer) {
    Drux::LogInfo("Enumerating uninstallable game versions\n");
    return callTextQuery(kEnumerateUninstallableGameVersions, buffer);
}

int32_t PatchBridge_EnumerateLatestGameVersions(const char* request, char* buffer) {
    Drux::LogInfo("Enumerating latest available game versions\n");
    return callEntryPoint<VantrelPatchRequestQueryFn>(kEnumerateLatestGameVersions, request, buffer,
                                                      static_cast<int32_t>(kPatchTextSize));
}

int32_t PatchBridge_InstalledGameVersionSize(char* buffer) {
    Drux::LogInfo("Querying game version response\n");
    return callTextQuery(kInstalledGameVersionSize, buffer);
}

namespace Drux::testing {
void resetPatchSupport() {
    Drux::ScopedLock guard(loaderLock());
    for (auto& slot : patchSlots) slot.store(nullptr);
    patchSupportState.store(-1, std::memory_order_release);
}
}  // namespace Drux::testing
