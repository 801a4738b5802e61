// Allocation-failure injection for the tests: preloaded ahead of the sanitizer runtime, it makes the
// allocation numbered KORVO_FAIL_ALLOC (1 is the first one once main has been called) fail, and writes
// the number of allocations counted to the file named by KORVO_ALLOC_COUNT when the process exits.
// Only the main thread's allocations are counted and failed: a new thread's start-up inside the C
// library and the sanitizer runtime allocates too, and neither survives a failure there.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<uint64_t> gCount{0};
uint64_t gFailAt = 0;  // 0: never
bool gArmed = false;
pthread_t gMainThread;
const char* gCountFile = nullptr;

// dlsym may allocate while the first lookup is under way; those few bytes come from here.
alignas(16) unsigned char gBootstrap[4096];
size_t gBootstrapUsed = 0;
bool gResolving = false;

void* Bootstrap(size_t size)
{
	size = (size + 15) & ~size_t{15};
	if (gBootstrapUsed + size > sizeof gBootstrap)
		return nullptr;
	void* p = gBootstrap + gBootstrapUsed;
	gBootstrapUsed += size;
	return p;
}

// True when this allocation is the one to fail.
bool Fails()
{
	if (!gArmed || !pthread_equal(pthread_self(), gMainThread))
		return false;
	const uint64_t n = gCount.fetch_add(1, std::memory_order_relaxed) + 1;
	return n == gFailAt;
}

void WriteNumber(int fd, uint64_t n)
{
	char text[24];
	size_t i = sizeof text;
	text[--i] = '\n';
	do {
		text[--i] = char('0' + n % 10);
		n /= 10;
	} while (n);
	(void)!write(fd, text + i, sizeof text - i);
}

using MainFn = int (*)(int, char**, char**);
MainFn gMain = nullptr;

// Counting starts with main: an allocation that fails while static objects are built ends any
// program at once, so those are left alone.
int ArmedMain(int argc, char** argv, char** env)
{
	const char* failAt = getenv("KORVO_FAIL_ALLOC");
	gCountFile = getenv("KORVO_ALLOC_COUNT");
	gFailAt = failAt ? strtoull(failAt, nullptr, 10) : 0;
	gMainThread = pthread_self();
	gArmed = gFailAt || gCountFile;
	return gMain(argc, argv, env);
}

__attribute__((destructor)) void Report()
{
	if (!gCountFile)
		return;
	const int fd = open(gCountFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (fd < 0)
		return;
	WriteNumber(fd, gCount.load());
	close(fd);
}

struct Next {
	void* (*malloc)(size_t);
	void* (*calloc)(size_t, size_t);
	void* (*realloc)(void*, size_t);
	void (*free)(void*);
	int (*posixMemalign)(void**, size_t, size_t);
	void* (*alignedAlloc)(size_t, size_t);
	void* (*newObject)(size_t);
	void* (*newArray)(size_t);
	void* (*newAlignedObject)(size_t, std::align_val_t);
	void* (*newAlignedArray)(size_t, std::align_val_t);
};

Next gNext;
bool gResolved = false;

// Looks up the allocator the process would use without this library. Allocations made by the
// lookup itself come from the bootstrap area; frees of them are ignored.
bool Resolve()
{
	if (gResolved)
		return true;
	if (gResolving)
		return false;
	gResolving = true;
	Next n;
	n.malloc = reinterpret_cast<decltype(n.malloc)>(dlsym(RTLD_NEXT, "malloc"));
	n.calloc = reinterpret_cast<decltype(n.calloc)>(dlsym(RTLD_NEXT, "calloc"));
	n.realloc = reinterpret_cast<decltype(n.realloc)>(dlsym(RTLD_NEXT, "realloc"));
	n.free = reinterpret_cast<decltype(n.free)>(dlsym(RTLD_NEXT, "free"));
	n.posixMemalign = reinterpret_cast<decltype(n.posixMemalign)>(dlsym(RTLD_NEXT, "posix_memalign"));
	n.alignedAlloc = reinterpret_cast<decltype(n.alignedAlloc)>(dlsym(RTLD_NEXT, "aligned_alloc"));
	n.newObject = reinterpret_cast<decltype(n.newObject)>(dlsym(RTLD_NEXT, "_Znwm"));
	n.newArray = reinterpret_cast<decltype(n.newArray)>(dlsym(RTLD_NEXT, "_Znam"));
	n.newAlignedObject =
	        reinterpret_cast<decltype(n.newAlignedObject)>(dlsym(RTLD_NEXT, "_ZnwmSt11align_val_t"));
	n.newAlignedArray =
	        reinterpret_cast<decltype(n.newAlignedArray)>(dlsym(RTLD_NEXT, "_ZnamSt11align_val_t"));
	gNext = n;
	gResolved = true;
	gResolving = false;
	return true;
}

bool FromBootstrap(const void* pointer)
{
	const unsigned char* p = static_cast<const unsigned char*>(pointer);
	return p >= gBootstrap && p < gBootstrap + sizeof gBootstrap;
}

}  // namespace

extern "C" {

void* malloc(size_t size)
{
	if (!Resolve())
		return Bootstrap(size);
	return Fails() ? nullptr : gNext.malloc(size);
}

void* calloc(size_t count, size_t size)
{
	if (!Resolve())
		return size && count > SIZE_MAX / size ? nullptr : Bootstrap(count * size);  // zeroed storage
	return Fails() ? nullptr : gNext.calloc(count, size);
}

void* realloc(void* pointer, size_t size)
{
	if (!Resolve() || FromBootstrap(pointer))
		return nullptr;
	return Fails() ? nullptr : gNext.realloc(pointer, size);
}

void free(void* pointer)
{
	if (FromBootstrap(pointer) || !Resolve())
		return;
	gNext.free(pointer);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
	if (!Resolve())
		return ENOMEM;
	return Fails() ? ENOMEM : gNext.posixMemalign(out, alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
	if (!Resolve())
		return nullptr;
	return Fails() ? nullptr : gNext.alignedAlloc(alignment, size);
}

using StartFn = int (*)(MainFn, int, char**, void (*)(), void (*)(), void (*)(), void*);

// The C library calls main through this; the program's main is called through ArmedMain instead.
int __libc_start_main(MainFn main, int argc, char** argv, void (*init)(), void (*fini)(), void (*rtldFini)(),
                      void* stackEnd)
{
	const StartFn next = reinterpret_cast<StartFn>(dlsym(RTLD_NEXT, "__libc_start_main"));
	gMain = main;
	return next(ArmedMain, argc, argv, init, fini, rtldFini, stackEnd);
}

}  // extern "C"

namespace {

template <typename Alloc, typename... Args>
void* NewOrThrow(Alloc Next::*slot, Args... args)
{
	if (!Resolve() || Fails())
		throw std::bad_alloc();
	return (gNext.*slot)(args...);
}

template <typename Alloc>
void* NewOrNull(Alloc Next::*slot, size_t size) noexcept
{
	try {
		return NewOrThrow(slot, size);
	} catch (const std::bad_alloc&) {
		return nullptr;
	}
}

}  // namespace

void* operator new(size_t size) { return NewOrThrow(&Next::newObject, size); }
void* operator new[](size_t size) { return NewOrThrow(&Next::newArray, size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return NewOrNull(&Next::newObject, size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return NewOrNull(&Next::newArray, size); }
void* operator new(size_t size, std::align_val_t alignment)
{
	return NewOrThrow(&Next::newAlignedObject, size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment)
{
	return NewOrThrow(&Next::newAlignedArray, size, alignment);
}
