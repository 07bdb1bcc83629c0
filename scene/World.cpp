#include "scene/World.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "scene/Camera.h"
#include "scene/Scene.h"

namespace gridcull {

namespace {

void* DefaultAllocate(std::size_t bytes, const char*, int) { return std::malloc(bytes); }

AllocateHook gAllocate = DefaultAllocate;

// Raw block for count records of T, default-initialised: value-initialising
// a SceneObject would zero its 192 KiB cell list and make the whole 1 GB
// block resident.
template <typename T>
T* NewArray(int count, const char* name, int index = -1) {
    void* block = gAllocate(sizeof(T) * static_cast<std::size_t>(count), name, index);
    if (!block) return nullptr;
    T* items = static_cast<T*>(block);
    for (int i = 0; i < count; ++i) new (items + i) T;
    return items;
}

template <typename T>
void DeleteArray(T*& items, int count) {
    if (!items) return;
    for (int i = 0; i < count; ++i) items[i].~T();
    std::free(items);
    items = nullptr;
}

void FreeBytes(unsigned char*& bytes) {
    std::free(bytes);
    bytes = nullptr;
}

void FreeWords(BitSet& bits) {
    std::free(bits.pWords);
    bits.pWords = nullptr;
}

void Progress(const SetupObserver& observer) {
    if (observer.pfnProgress) observer.pfnProgress(observer.pContext);
}

bool Fail(const SetupObserver& observer, const char* message) {
    if (observer.pfnFailure) observer.pfnFailure(observer.pContext, message);
    return false;
}

bool AllocateBytes(unsigned char*& out, int count, const char* name, const SetupObserver& observer) {
    out = NewArray<unsigned char>(count, name);
    if (!out) {
        char message[64];
        std::snprintf(message, sizeof message, "Not enough memory for %s.\n", name);
        return Fail(observer, message);
    }
    std::memset(out, 0, count);
    return true;
}

// Header fields first, then the zeroed word array.
bool AllocateBits(BitSet& bits, int words, const char* name, int index, const SetupObserver& observer) {
    bits.iWordCount = words;
    bits.iBytesPerWord = 2;
    bits.iBitsPerWord = 16;
    bits.iMask = 15;
    bits.pWords = NewArray<std::uint16_t>(words, name, index);
    if (!bits.pWords) {
        char message[64];
        if (index >= 0)
            std::snprintf(message, sizeof message, "Not enough memory for %s[%d].\n", name, index);
        else
            std::snprintf(message, sizeof message, "Not enough memory for %s.\n", name);
        return Fail(observer, message);
    }
    bits.ClearAll();
    return true;
}

template <typename Set>
bool AllocateSets(Set*& sets, int count, const char* name, const SetupObserver& observer) {
    sets = NewArray<Set>(count, name);
    if (!sets) {
        char message[64];
        std::snprintf(message, sizeof message, "Not enough memory for %s.\n", name);
        return Fail(observer, message);
    }
    return true;
}

}  // namespace

void SetAllocateHook(AllocateHook hook) { gAllocate = hook ? hook : DefaultAllocate; }

void ConstructWorld(World& world) {
    for (int i = 0; i < kMaxBands; ++i) {
        world.RowSpanList[i].iCount = 0;
        world.RowStopList[i].iCount = 0;
        world.ColSpanList[i].iCount = 0;
        world.ColStopList[i].iCount = 0;
    }
    world.H = BitSet();
    world.O = BitSet();
    world.Os = BitSet();
    for (int i = 0; i < kDynamicCount; ++i) {
        world.Txy[i] = BitSet();
        world.Tyz[i] = BitSet();
        world.Txz[i] = BitSet();
    }
    world.Trackball = gridcull::Trackball();
    world.TxyN = world.TyzN = world.TxzN = nullptr;
    world.I = nullptr;
    world.PVS = world.PVSVF = world.PVSEXACT = nullptr;
    world.ucReadBufferR = world.ucReadBufferG = world.ucReadBufferB = nullptr;
    world.disks = nullptr;
    for (int f = 0; f < 6; ++f) world.FaceMap[f] = nullptr;
    for (PlaneEntryTable& t : world.StrictPlaneEntries) t.bFilled = 0;
    std::memset(&world.Staged, 0, sizeof world.Staged);
    world.fViewX = world.fViewY = world.fViewZ = 35;
    world.fRoll = world.fYaw = world.fPitch = 0;
    world.fFov = 55;
    world.fFarDist = kFarDist;
    world.bStrictCulling = 0;
    world.pfnDrawObject = nullptr;
    world.pDrawContext = nullptr;
}

void DestroyWorld(World& world) {
    DeleteArray(world.disks, kObjectCount);
    for (int f = 0; f < 6; ++f) {
        std::free(world.FaceMap[f]);
        world.FaceMap[f] = nullptr;
    }
    DeleteArray(world.I, kCellCount);
    FreeBytes(world.PVS);
    FreeBytes(world.PVSVF);
    FreeBytes(world.PVSEXACT);
    FreeBytes(world.ucReadBufferR);
    FreeBytes(world.ucReadBufferG);
    FreeBytes(world.ucReadBufferB);
    DeleteArray(world.TxyN, kColumnCount);
    DeleteArray(world.TyzN, kColumnCount);
    DeleteArray(world.TxzN, kColumnCount);
    for (int i = 0; i < kDynamicCount; ++i) {
        FreeWords(world.Txz[i]);
        FreeWords(world.Tyz[i]);
        FreeWords(world.Txy[i]);
    }
    FreeWords(world.Os);
    FreeWords(world.O);
    FreeWords(world.H);
}

World* NewWorld() {
    // The record is about 12 MB, mostly outline lists; calloc keeps the
    // untouched parts off the resident set.
    void* block = std::calloc(1, sizeof(World));
    if (!block) return nullptr;
    World* world = new (block) World;
    ConstructWorld(*world);
    return world;
}

void DeleteWorld(World* world) {
    if (!world) return;
    DestroyWorld(*world);
    world->~World();
    std::free(world);
}

bool AllocateWorldArrays(World& world, const SetupObserver& observer) {
    static const char* const kFlagNames[3] = {"PVS", "PVSVF", "PVSEXACT"};
    unsigned char** flags[3] = {&world.PVS, &world.PVSVF, &world.PVSEXACT};
    for (int k = 0; k < 3; ++k) {
        if (!AllocateBytes(*flags[k], kObjectCount, kFlagNames[k], observer)) return false;
        Progress(observer);
    }
    static const char* const kReadBackNames[3] = {"ucReadBufferR", "ucReadBufferG", "ucReadBufferB"};
    unsigned char** planes[3] = {&world.ucReadBufferR, &world.ucReadBufferG, &world.ucReadBufferB};
    for (int k = 0; k < 3; ++k) {
        if (!AllocateBytes(*planes[k], kReadBackPixels, kReadBackNames[k], observer)) return false;
        Progress(observer);
    }
    // The face maps carry no message of their own; the traversal cannot run
    // without them, so a failure is reported like the others.
    for (int f = 0; f < 6; ++f) {
        world.FaceMap[f] = NewArray<int>(kFaceMapEntries, "FaceMap", f);
        if (!world.FaceMap[f]) {
            char message[64];
            std::snprintf(message, sizeof message, "Not enough memory for FaceMap[%d].\n", f);
            return Fail(observer, message);
        }
        std::memset(world.FaceMap[f], 0, sizeof(int) * kFaceMapEntries);
    }
    Progress(observer);
    static const char* const kCellSetNames[3] = {"H", "O", "Os"};
    BitSet* cells[3] = {&world.H, &world.O, &world.Os};
    for (int k = 0; k < 3; ++k) {
        if (!AllocateBits(*cells[k], kCellWords, kCellSetNames[k], -1, observer)) return false;
        Progress(observer);
    }
    for (int i = 0; i < kDynamicCount; ++i) {
        if (!AllocateBits(world.Txy[i], kColumnWords, "Txy", i, observer)) return false;
        if (!AllocateBits(world.Tyz[i], kColumnWords, "Tyz", i, observer)) return false;
        if (!AllocateBits(world.Txz[i], kColumnWords, "Txz", i, observer)) return false;
    }
    Progress(observer);
    if (!AllocateSets(world.TxyN, kColumnCount, "TxyN", observer)) return false;
    if (!AllocateSets(world.TyzN, kColumnCount, "TyzN", observer)) return false;
    if (!AllocateSets(world.TxzN, kColumnCount, "TxzN", observer)) return false;
    Progress(observer);
    if (!AllocateSets(world.I, kCellCount, "I", observer)) return false;
    Progress(observer);
    // About 1 GB of address space, almost all of it the untouched tails of
    // the per-object cell lists.
    world.disks = NewArray<SceneObject>(kObjectCount, "disks");
    if (!world.disks) return Fail(observer, "Not enough memory to disks.\n");
    return true;
}

bool SetupScene(World& world, const SetupObserver& observer) {
    world.bOccluderFusion = 1;
    world.bRenderingDisabled = 0;
    world.bExactVisibility = 0;
    world.bObjectMotion = 1;
    world.bStrictCulling = 0;
    world.iFpsSamples = 0;
    world.fFpsSum = 0;
    world.iFrame = 0;
    world.bStructureDisplay = 0;
    if (!AllocateWorldArrays(world, observer)) return false;
    RebuildViewMatrix(world);
    GenerateScene(world);
    world.Trackball.iBallWidth = 600;
    world.Trackball.iBallHeight = 300;
    world.Trackball.fBallScale = 0.85f;
    for (int f = 0; f < 6; ++f) world.bFaceMarked[f] = 0;
    world.iGridSize = kGridSize;
    world.H.ClearAll();
    world.O.ClearAll();
    world.O.CopyFrom(world.Os);
    world.iDist = 0;
    return true;
}

}  // namespace gridcull
