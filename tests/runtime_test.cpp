// GCC's runtime as the module has it, through a probe module built the same way, and the module in
// hosts that are not clean test programs: one that holds GCC's shared unwinder, loaded before or after
// the module, and ones that have taken every fiber-local or thread-local slot. A host must live on,
// and get a working control or a status. The hosts, the stack guard of another process, a broken guard
// and a process that ends are this program run again as a child (the modes in main).
#include "TestSupport.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using kivtest::BesideProgram;
using kivtest::ComPtr;
using kivtest::Proc;

const wchar_t kProbe[] = L"kiv_runtime_probe.dll";
#if defined(_WIN64)
constexpr std::uintptr_t kLinkedGuard = 0x00002B992DDFA232ull;
#else
constexpr std::uintptr_t kLinkedGuard = 0xBB40E64Eu;
#endif

// This program run again with `mode`.
kivtest::ProgramRun RunChild(const std::string& mode) {
    return kivtest::RunProgram(kivtest::ThisProgram(std::wstring(mode.begin(), mode.end())), 30000);
}
using Child = kivtest::ProgramRun;

// The stack guard that the loader set in a module's load-configuration directory; 0 when the module
// has no directory that names one.
std::uintptr_t GuardOfDirectory(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    if (!entry.VirtualAddress || entry.Size < offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, SecurityCookie) + sizeof(ULONG_PTR))
        return 0;
    const auto* directory = reinterpret_cast<const IMAGE_LOAD_CONFIG_DIRECTORY*>(base + entry.VirtualAddress);
    return directory->SecurityCookie ? *reinterpret_cast<const std::uintptr_t*>(directory->SecurityCookie) : 0;
}

// ---- the child's modes --------------------------------------------------------------------------------

int PrintGuards() {
    HMODULE probe = ::LoadLibraryW(BesideProgram(kProbe).c_str());
    HMODULE module = ::LoadLibraryW(kivtest::OcxPath().c_str());
    auto guard = probe ? Proc<std::uintptr_t (*)()>(probe, "StackGuard") : nullptr;
    if (!guard || !module) return 2;
    std::printf("%llx %llx\n", static_cast<unsigned long long>(guard()),
                static_cast<unsigned long long>(GuardOfDirectory(module)));
    return 0;
}

int FailStackCheck() {
    HMODULE probe = ::LoadLibraryW(BesideProgram(kProbe).c_str());
    auto fail = probe ? Proc<void (*)()>(probe, "FailStackCheck") : nullptr;
    if (!fail) return 2;
    fail();
    return 3;  // the failure returned
}

// The runtime gives nothing back as the process ends: the other threads are gone and may have held
// the heap's lock. A copy of the probe loaded first is told of the end after the probe (the loader
// tells modules in the reverse order of their loads): the probe's fiber-local slot is still taken then.
DWORD FreeFlsSlots() {
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = ::FlsAlloc(nullptr)) != FLS_OUT_OF_INDEXES;) taken.push_back(slot);
    for (DWORD slot : taken) ::FlsFree(slot);
    return static_cast<DWORD>(taken.size());
}
DWORD gFreeFlsSlots = 0;
bool NothingGivenBack() { return FreeFlsSlots() == gFreeFlsSlots; }

int EndTheProcess() {
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring copy = std::wstring(folder) + L"kiv_runtime_probe_first.dll";
    ::CopyFileW(BesideProgram(kProbe).c_str(), copy.c_str(), FALSE);
    HMODULE first = ::LoadLibraryW(copy.c_str());
    HMODULE probe = ::LoadLibraryW(BesideProgram(kProbe).c_str());
    if (!first || !probe) return 2;
    Proc<long (*)(int)>(probe, "FlakyStatic")(0);  // an exception thrown and caught
    gFreeFlsSlots = FreeFlsSlots();
    Proc<void (*)(bool (*)())>(first, "CheckAtProcessEnd")(&NothingGivenBack);
    ::ExitProcess(0);
}

// The module as a host uses it, loaded by its path: a control, a surface, a circle whose radius
// overflows and an argument too large for its parameter, both errors that the module raises and
// handles itself. Prints "made" with the calls' results, or "refused" with the status.
void UseTheModule() {
    HMODULE module = ::LoadLibraryW(kivtest::OcxPath().c_str());
    if (!module) {
        std::printf("refused %lu\n", ::GetLastError());
        return;
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        auto get = Proc<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(module, "DllGetClassObject");
        ComPtr<IClassFactory> factory;
        HRESULT status = get(CLSID_KivCtl, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()));
        ComPtr<_KivCtl> control;
        if (SUCCEEDED(status)) status = factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put()));
        if (FAILED(status)) {
            std::printf("refused 0x%08lx\n", static_cast<unsigned long>(status));
        } else {
            ComPtr<_KivBitmap> surface = kivtest::Create(kivtest::BitmapsOf(control.Get()).Get(), L"a", 16, 16);
            short left = 32760, top = 0, radius = 10;
            const HRESULT circle = surface ? surface->DrawCircle(&left, &top, &radius) : E_FAIL;
            const HRESULT box = surface ? kivtest::LateBound(surface.Get(), kivtest::IdOfName(surface.Get(), L"DrawBox"),
                                                             DISPATCH_METHOD,
                                                             {kivtest::I4(70000), kivtest::I4(0), kivtest::I4(5), kivtest::I4(5)})
                                        : E_FAIL;
            std::printf("made 0x%08lx 0x%08lx\n", static_cast<unsigned long>(circle), static_cast<unsigned long>(box));
        }
    }
    ::CoUninitialize();
}

// The hosts: `unwinder_before` and `unwinder_after` load GCC's shared unwinder before or after the
// module; `no_fls` takes every fiber-local slot, `no_tls` every thread-local slot, `no_slots` both.
int Host(const std::string& kind) {
#if defined(KIV_SHARED_UNWINDER)
    if (kind == "unwinder_before" && !::LoadLibraryA(KIV_SHARED_UNWINDER)) return 2;
    if (kind == "unwinder_after") {
        HMODULE module = ::LoadLibraryW(kivtest::OcxPath().c_str());
        if (!module || !::LoadLibraryA(KIV_SHARED_UNWINDER)) return 2;
    }
#endif
    if (kind == "no_fls" || kind == "no_slots") {
        while (::FlsAlloc(nullptr) != FLS_OUT_OF_INDEXES) {
        }
    }
    if (kind == "no_tls" || kind == "no_slots") {
        while (::TlsAlloc() != TLS_OUT_OF_INDEXES) {
        }
    }
    UseTheModule();
    std::fflush(stdout);
    // Without a slot this program's own runtime (these objects, made at its first need) has no
    // exception record for the destructors that ask for one at exit: it ends here, as a host would go on.
    ::ExitProcess(0);
}

// ---- the probe in this process --------------------------------------------------------------------------

class ProbeModule : public ::testing::Test {
protected:
    void SetUp() override {
        probe = ::LoadLibraryW(BesideProgram(kProbe).c_str());
        ASSERT_NE(probe, nullptr);
    }
    void TearDown() override { ::FreeLibrary(probe); }

    // Runs `call` on `count` threads, the first `lead` milliseconds ahead of the others; false when
    // they have not all returned within ten seconds (the rest are left waiting, on what they share).
    bool OnThreads(int count, int lead, long (*call)(HMODULE), std::vector<long>& results) {
        auto shared = std::make_shared<std::pair<std::vector<long>, std::atomic<int>>>();
        shared->first.assign(count, 0);
        for (int i = 0; i < count; ++i) {
            std::thread([shared, call, i, module = probe] {
                shared->first[i] = call(module);
                ++shared->second;
            }).detach();
            if (i == 0) ::Sleep(lead);
        }
        for (int waited = 0; shared->second < count && waited < 10000; waited += 10) ::Sleep(10);
        results = shared->first;
        return shared->second == count;
    }

    HMODULE probe = nullptr;
};

TEST_F(ProbeModule, AStaticIsMadeOnceWhileOtherThreadsWaitForIt) {
    std::vector<long> values;
    ASSERT_TRUE(OnThreads(8, 0, [](HMODULE p) { return long(Proc<int (*)(int)>(p, "SlowStatic")(200)); }, values))
        << "a thread waiting for the static was never woken";
    for (long value : values) EXPECT_EQ(value, 42);
    EXPECT_EQ(Proc<long (*)()>(probe, "SlowStaticsMade")(), 1);
}

// The first making throws while the others wait: one of them makes it then.
TEST_F(ProbeModule, AStaticWhoseMakingThrowsIsMadeByAWaitingThread) {
    std::vector<long> made;
    ASSERT_TRUE(OnThreads(6, 50, [](HMODULE p) { return Proc<long (*)(int)>(p, "FlakyStatic")(300); }, made))
        << "the threads waiting for the static were not woken when its making threw";
    EXPECT_EQ(made[0], -1) << "the first try threw";
    for (size_t i = 1; i < made.size(); ++i) EXPECT_EQ(made[i], made[1]) << "thread " << i;
    EXPECT_GT(made[1], 0);
    EXPECT_EQ(Proc<long (*)(int)>(probe, "FlakyStatic")(0), made[1]) << "made once, after the try that threw";
}

#if defined(__i386__)
// An entry covers its function from the first byte up to, not including, the byte after the last.
TEST_F(ProbeModule, AnUnwindEntryCoversItsFunctionToItsLastByte) {
    auto holding = Proc<void* (*)(void*)>(probe, "FunctionHolding");
    auto last = Proc<void* (*)(int)>(probe, "LastFunction");
    ASSERT_TRUE(holding && last);
    auto* begin = static_cast<char*>(last(0));
    auto* end = static_cast<char*>(last(1));
    EXPECT_EQ(holding(begin), begin);
    EXPECT_EQ(holding(end - 1), begin);
    EXPECT_EQ(holding(end), nullptr) << "the byte after the function";
    EXPECT_EQ(holding(probe), nullptr) << "the module's headers, before all code";
    void* exported = reinterpret_cast<void*>(::GetProcAddress(probe, "FlakyStatic"));
    EXPECT_EQ(holding(exported), exported);
}
#endif

// ---- the stack guard --------------------------------------------------------------------------------

TEST(StackGuard, TheLoaderOrTheModuleSetsADifferentGuardInEachProcess) {
    const Child first = RunChild("--guards"), second = RunChild("--guards");
    ASSERT_EQ(first.exitCode, 0u) << first.output;
    ASSERT_EQ(second.exitCode, 0u) << second.output;
    unsigned long long probe1 = 0, module1 = 0, probe2 = 0, module2 = 0;
    ASSERT_EQ(std::sscanf(first.output.c_str(), "%llx %llx", &probe1, &module1), 2) << first.output;
    ASSERT_EQ(std::sscanf(second.output.c_str(), "%llx %llx", &probe2, &module2), 2) << second.output;
    EXPECT_NE(probe1, kLinkedGuard);
    EXPECT_NE(probe1, probe2);
#if defined(__clang__)
    // lld writes the directory; GNU ld writes none, and the module seeds the guard itself.
    EXPECT_NE(module1, 0u) << "KIVDRAW.OCX has no load-configuration directory with a cookie";
    EXPECT_NE(module1, kLinkedGuard) << "the loader did not set the module's cookie";
    EXPECT_NE(module1, module2);
#endif
}

TEST(StackGuard, ABrokenGuardEndsTheProcessAsTheSystemsCheckDoes) {
    const Child child = RunChild("--fail-stack-check");
    EXPECT_EQ(child.exitCode, static_cast<DWORD>(STATUS_STACK_BUFFER_OVERRUN)) << child.output;
}

TEST(ProcessEnd, TheRuntimeFreesNothingAsTheProcessEnds) {
    const Child child = RunChild("--end");
    EXPECT_EQ(child.exitCode, 0u) << "4: the runtime gave its slot back as the process ended";
}

// ---- hosts ----------------------------------------------------------------------------------------

struct HostCase {
    const char* kind;
    bool mayRefuse;
};

class Hosts : public ::testing::TestWithParam<HostCase> {};

TEST_P(Hosts, LiveOnAndGetAWorkingControlOrAStatus) {
    const HostCase& host = GetParam();
    const Child child = RunChild(std::string("--host ") + host.kind);
    ASSERT_EQ(child.exitCode, 0u) << "the host ended: " << child.output;
    if (child.output.rfind("refused", 0) == 0) {
        EXPECT_TRUE(host.mayRefuse) << child.output;
        return;
    }
    unsigned long circle = 1, box = 1;
    ASSERT_EQ(std::sscanf(child.output.c_str(), "made 0x%lx 0x%lx", &circle, &box), 2) << child.output;
    EXPECT_EQ(circle, static_cast<unsigned long>(S_OK)) << "the overflow is absorbed in mode continue";
    EXPECT_EQ(box, static_cast<unsigned long>(DISP_E_OVERFLOW));
}

INSTANTIATE_TEST_SUITE_P(Runtime, Hosts,
                         ::testing::Values(
#if defined(KIV_SHARED_UNWINDER)
                             HostCase{"unwinder_before", false}, HostCase{"unwinder_after", false},
#endif
                             HostCase{"no_fls", true}, HostCase{"no_tls", true}, HostCase{"no_slots", true}),
                         [](const auto& info) { return std::string(info.param.kind); });

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--guards") == 0) return PrintGuards();
    if (argc >= 2 && std::strcmp(argv[1], "--fail-stack-check") == 0) return FailStackCheck();
    if (argc >= 2 && std::strcmp(argv[1], "--end") == 0) return EndTheProcess();
    if (argc >= 3 && std::strcmp(argv[1], "--host") == 0) return Host(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
