// The product server's SOAP service, as far as the SNMP manager uses it: log in, read a
// configuration section, log off. soapcpp2 reads this file at build time and writes the client
// code (for the helper library) and the server code (for the stand-in product server) into the
// build tree.

// The directives below must keep their exact "//gsoap" form.
// clang-format off
//gsoap ns1 service name: VormaProduct
//gsoap ns1 service namespace: urn:quillon:vorma:product
//gsoap ns1 service style: document
//gsoap ns1 service encoding: literal
//gsoap ns1 schema namespace: urn:quillon:vorma:product
//gsoap ns1 schema form: unqualified
// clang-format on

#import "stlvector.h"

// The session header. The client sends it with every request; the server answers with the same
// record, carrying the session after a login.
struct SOAP_ENV__Header {
    // The kind of request; the client sends 6.
    int ns1__kind;
    // A number chosen by the server.
    int ns1__number;
    std::wstring ns1__headerText;
    // "SharedClass" or "ExclusiveClass".
    std::wstring ns1__accessClass;
    // Empty when logged off.
    std::string ns1__session;
};

// The detail record of a fault.
struct SOAP_ENV__Detail {
    // The result the helper library gives for the exchange when the fault code is ns1:Result
    // (see product/helper/ProductProtocol.h); otherwise 0.
    int ns1__result;
    int ns1__errorNumber;
    std::wstring ns1__message;
    std::wstring ns1__source;
    std::wstring ns1__message2;
};

// One item of a configuration section.
class ns1__ConfigItem {
  public:
    std::wstring name;
    std::wstring value;
};

// A configuration section: its items in the order of the section.
class ns1__Config {
  public:
    std::vector<ns1__ConfigItem> item;
};

struct ns1__LoginResponse {};
struct ns1__LogoffResponse {};

int ns1__Login(char* account, char* password, struct ns1__LoginResponse* response);
int ns1__GetAppConfig(wchar_t* section, ns1__Config* config);
int ns1__Logoff(struct ns1__LogoffResponse* response);
