#include "bench/update/msxmlwalk.h"

#include <initializer_list>

namespace updatebench {
namespace {

void Check(HRESULT hr)
{
    if (FAILED(hr))
        _com_issue_error(hr);
}

IXMLDOMElementPtr AsElement(IXMLDOMNode* node)
{
    IXMLDOMElementPtr element;
    if (node)
        Check(node->QueryInterface(__uuidof(IXMLDOMElement), reinterpret_cast<void**>(&element)));
    if (!element)
        _com_issue_error(E_INVALIDARG);
    return element;
}

_variant_t Attribute(IXMLDOMNode* node, const wchar_t* name)
{
    _variant_t value;
    Check(AsElement(node)->getAttribute(_bstr_t(name), &value));
    return value;
}

_bstr_t AttributeText(IXMLDOMNode* node, const wchar_t* name)
{
    return _bstr_t(Attribute(node, name));
}

IXMLDOMNodePtr Child(IXMLDOMNode* node, const wchar_t* name)
{
    IXMLDOMNodePtr child;
    Check(node->selectSingleNode(_bstr_t(name), &child));
    if (!child)
        _com_issue_error(E_FAIL);
    return child;
}

_variant_t TypedValue(IXMLDOMNode* node)
{
    _variant_t value;
    Check(node->get_nodeTypedValue(&value));
    return value;
}

long Number(IXMLDOMNode* control, const wchar_t* name)
{
    _variant_t value = TypedValue(Child(control, name));
    value.ChangeType(VT_I4);
    return V_I4(&value);
}

long Length(IXMLDOMNodeList* list)
{
    long length = 0;
    Check(list->get_length(&length));
    return length;
}

IXMLDOMNodePtr Item(IXMLDOMNodeList* list, long index)
{
    IXMLDOMNodePtr item;
    Check(list->get_item(index, &item));
    return item;
}

// Each value as the update takes it: attributes and the server's text as strings, the numbers
// converted to 32 bits.
void ReadControl(IXMLDOMNode* control)
{
    for (const wchar_t* name : {L"type", L"component", L"componentversion"})
        AttributeText(control, name);
    IXMLDOMNodePtr server = Child(control, L"server");
    AttributeText(server, L"port");
    const _variant_t proto = Attribute(server, L"proto");
    if (V_VT(&proto) != VT_NULL)
        static_cast<_bstr_t>(proto);
    static_cast<_bstr_t>(TypedValue(server));
    for (const wchar_t* name : {L"probability", L"dailyLimit", L"retryLimitDays", L"retryFrequencyMinHours"})
        Number(control, name);
}

} // namespace

double Now()
{
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

CBareTimes LoadAndWalk(const _bstr_t& text)
{
    CBareTimes times;
    const double start = Now();
    IXMLDOMDocument2Ptr document;
    Check(CoCreateInstance(CLSID_DOMDocument, nullptr,
                           CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IXMLDOMDocument2,
                           reinterpret_cast<void**>(&document)));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    Check(document->loadXML(text, &loaded));
    if (loaded != VARIANT_TRUE)
        _com_issue_error(E_FAIL);
    const double parsed = Now();

    IXMLDOMNodeListPtr settings;
    Check(document->getElementsByTagName(_bstr_t(L"controlSettings"), &settings));
    AttributeText(Item(settings, 0), L"scdSequence");
    IXMLDOMNodeListPtr products;
    Check(document->getElementsByTagName(_bstr_t(L"product"), &products));
    const long productCount = Length(products);
    for (long p = 0; p < productCount; ++p) {
        IXMLDOMNodePtr product = Item(products, p);
        for (const wchar_t* name : {L"scdVersion", L"product", L"productversion"})
            AttributeText(product, name);
        IXMLDOMNodeListPtr controls;
        Check(product->selectNodes(_bstr_t(L"control"), &controls));
        const long controlCount = Length(controls);
        for (long c = 0; c < controlCount; ++c)
            ReadControl(Item(controls, c));
        times.controls += static_cast<unsigned long>(controlCount);
    }
    times.load = parsed - start;
    times.walk = Now() - parsed;
    return times;
}

} // namespace updatebench
