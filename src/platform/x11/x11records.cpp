#include "platform/x11/x11records.h"

#include "platform/x11/x11errors.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace kq {
namespace {

constexpr const char* kOwnerAtom = "_KEYQUILL_OWNER";

std::vector<unsigned long> readCardinals(Display* dpy, Window w, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(dpy, w, property, 0, 65536, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data); // Xlib: longs for format 32
        out.assign(values, values + count);
    }
    if (data) XFree(data);
    return out;
}

std::string recordName(const char* kind, Window owner) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%lx", owner);
    return std::string(kind) + hex;
}

} // namespace

X11Records::X11Records(Display* dpy) : m_dpy(dpy) {
    std::random_device random;
    m_nonce = {random(), random()};
    XSetWindowAttributes attrs{};
    m_owner =
        XCreateWindow(dpy, DefaultRootWindow(dpy), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, &attrs);
    const unsigned long nonce[2] = {m_nonce[0], m_nonce[1]};
    XChangeProperty(dpy, m_owner, XInternAtom(dpy, kOwnerAtom, False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(nonce), 2);
}

X11Records::~X11Records() {
    // Records still written now stay: the next Keyquill finds this window gone and puts back what
    // they cover.
    XDestroyWindow(m_dpy, m_owner);
    XFlush(m_dpy);
}

// [nonce, nonce, then the data]
void X11Records::write(const char* kind, const std::vector<unsigned long>& data) {
    const Window root = DefaultRootWindow(m_dpy);
    const Atom atom = XInternAtom(m_dpy, recordName(kind, m_owner).c_str(), False);
    const auto written = std::find(m_written.begin(), m_written.end(), kind);
    if (data.empty()) {
        if (written != m_written.end()) XDeleteProperty(m_dpy, root, atom), m_written.erase(written);
        return;
    }
    std::vector<unsigned long> all{m_nonce[0], m_nonce[1]};
    all.insert(all.end(), data.begin(), data.end());
    XChangeProperty(m_dpy, root, atom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(all.data()), static_cast<int>(all.size()));
    if (written == m_written.end()) m_written.emplace_back(kind);
}

std::vector<std::vector<unsigned long>> X11Records::takeLeftovers(Display* dpy, const char* kind) {
    const Window root = DefaultRootWindow(dpy);
    const Atom ownerAtom = XInternAtom(dpy, kOwnerAtom, False);
    const size_t prefix = std::strlen(kind);
    int count = 0;
    Atom* props = XListProperties(dpy, root, &count);
    std::vector<char*> names(static_cast<size_t>(count));
    if (count) XGetAtomNames(dpy, props, count, names.data());
    std::vector<std::vector<unsigned long>> dead;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] && !std::strncmp(names[i], kind, prefix)) {
            const Window owner = std::strtoul(names[i] + prefix, nullptr, 16);
            auto data = readCardinals(dpy, root, props[i]);
            std::vector<unsigned long> ownerNonce;
            {
                XErrorTrap trap(dpy);
                ownerNonce = readCardinals(dpy, owner, ownerAtom);
                if (trap.errors()) ownerNonce.clear();
            }
            const bool alive = data.size() >= 2 && ownerNonce.size() == 2 && ownerNonce[0] == data[0] &&
                               ownerNonce[1] == data[1];
            if (!alive) {
                if (data.size() >= 2) dead.emplace_back(data.begin() + 2, data.end());
                XDeleteProperty(dpy, root, props[i]);
            }
        }
        if (names[i]) XFree(names[i]);
    }
    if (props) XFree(props);
    return dead;
}

} // namespace kq
