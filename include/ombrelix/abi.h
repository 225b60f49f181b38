// Binary layout of the host-facing interfaces.
//
// A recorder host built with Microsoft's compiler finds one destructor slot
// at the start of each interface's table: the scalar deleting destructor,
// which takes a flags word (bit 0: free the memory) and returns the object.
// GCC gives a virtual destructor two slots instead (complete and deleting),
// so a mingw build declares that one slot itself: OMBRELIX_INTERFACE at the
// top of every host-facing interface, OMBRELIX_DESTRUCTOR_SLOT(Class) in
// every class that implements one. There the interface's own destructor is
// protected and not virtual, and such objects are deleted through the slot
// (ombrelix_abi::DeleteObject). On 32-bit Windows the slot uses __thiscall
// (the object in ECX, the callee pops its arguments), as GCC's member
// functions do by default there. Other compilers and Linux keep the ordinary
// virtual destructor.
#pragma once

#include <type_traits>

#if defined(__MINGW32__)
#define OMBRELIX_MSVC_LAYOUT 1
#else
#define OMBRELIX_MSVC_LAYOUT 0
#endif

#if defined(__MINGW32__) && defined(__i386__)
#define OMBRELIX_THISCALL __thiscall
#else
#define OMBRELIX_THISCALL
#endif

#if OMBRELIX_MSVC_LAYOUT

#define OMBRELIX_INTERFACE(Name)                                                   \
protected:                                                                         \
    ~Name() = default;                                                             \
                                                                                   \
public:                                                                            \
    virtual void* OMBRELIX_THISCALL ScalarDeletingDestructor(unsigned flags) = 0;

#define OMBRELIX_DESTRUCTOR_SLOT(Class)                                            \
    void* OMBRELIX_THISCALL ScalarDeletingDestructor(unsigned flags) override {    \
        static_assert(std::is_final<Class>::value || std::has_virtual_destructor<Class>::value, \
                      "deleted through its slot: final or with a virtual destructor"); \
        if (flags & 1u) {                                                          \
            delete this;                                                           \
        } else {                                                                   \
            this->~Class();                                                        \
        }                                                                          \
        return this;                                                               \
    }

#else

#define OMBRELIX_INTERFACE(Name) \
public:                          \
    virtual ~Name() = default;

#define OMBRELIX_DESTRUCTOR_SLOT(Class)

#endif

namespace ombrelix_abi {

// Deletes an object that implements a host-facing interface, as the host
// would.
template <typename Interface>
void DeleteObject(Interface* object) {
#if OMBRELIX_MSVC_LAYOUT
    object->ScalarDeletingDestructor(1u);
#else
    delete object;
#endif
}

// For std::unique_ptr of a host-facing interface.
struct SlotDeleter {
    template <typename Interface>
    void operator()(Interface* object) const {
        DeleteObject(object);
    }
};

}  // namespace ombrelix_abi
