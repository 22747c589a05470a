// The serialisers that soapcpp2 generates from ProductService.gsoap.h, and the namespace table, in
// one object. gSOAP's runtime library calls into both, so a program that links the runtime must
// link them too: the helper library's users pull this object in by the symbol `namespaces`
// (see CMakeLists.txt), whether or not they call the library.
#include "soapC.cpp"

#include "VormaProduct.nsmap"
