// Debian's libpcap.a lists a D-Bus capture source beside the Linux one, and
// with it libdbus-1, libsystemd and five more libraries: 1 MB of resident
// memory, a quarter of the tool's budget, for captures of D-Bus traffic the
// tool never makes. These two stand in for that source (libpcap 1.10,
// pcap-dbus.h): linked before the archive, they keep its pcap-dbus.o, and
// everything it needs, out. pcap_create asks each source whether a device
// name is its own; this one owns none.
#include <pcap/pcap.h>

extern "C" {

struct pcap_if_list;

// NOLINTBEGIN(readability-identifier-naming): libpcap's names.
pcap_t* dbus_create(const char* /*device*/, char* /*errorText*/, int* isOurs) {
  *isOurs = 0;
  return nullptr;
}

int dbus_findalldevs(pcap_if_list* /*devices*/, char* /*errorText*/) { return 0; }
// NOLINTEND(readability-identifier-naming)

}  // extern "C"
