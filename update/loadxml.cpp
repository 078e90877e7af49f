#include "update/update.h"

#include "support/memory.h"
#include "support/memoryimpl.h"
#include "support/trace.h"
#include "update/bstr.h"
#include "service/clfsboundary.h"
#include "update/lasterror.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace clfs::update {
namespace {

using utils::CKrvRef;
using utils::CTraceSite;
using utils::Text;
using utils::ThrowIfFailed;

const CTraceSite kLoadXml(L"long __thiscall clfs::update::CUpdate::LoadXml(void) throw(class _com_error)");
const CTraceSite kLoadSequence(L"long __thiscall clfs::update::CUpdate::LoadSequence(struct IXMLDOMDocument2 *,class "
                               L"_bstr_t &) throw(class _com_error)");
const CTraceSite kCheckNodeVersion(L"bool __thiscall clfs::update::CUpdate::CheckNodeVersion(struct IXMLDOMNode *) "
                                   L"throw()");
const CTraceSite kLoadRecord(L"long __thiscall clfs::update::CUpdate::LoadRecord(struct IXMLDOMNode *,class "
                             L"clfs::update::CUpdate::ConfigRec &) throw(class _com_error)");
const CTraceSite kGetAttribute(L"long __thiscall clfs::update::CUpdate::GetAttribute(struct IXMLDOMNode *,const "
                               L"wchar_t *,class _bstr_t &) throw(class _com_error)");
const CTraceSite kGetNodeValue(L"long __thiscall clfs::update::CUpdate::GetNodeValue(struct IXMLDOMNode *,const "
                               L"wchar_t *,class _variant_t &) throw(class _com_error)");
const CTraceSite kGetDword(L"long __thiscall clfs::update::CUpdate::GetDword(struct IXMLDOMNode *,const wchar_t "
                           L"*,unsigned long &) throw(class _com_error)");
const CTraceSite kGetString(L"long __thiscall clfs::update::CUpdate::GetString(struct IXMLDOMNode *,const wchar_t "
                            L"*,class _bstr_t &) throw(class _com_error)");
const CTraceSite kGetChildNodeAttribute(L"long __thiscall clfs::update::CUpdate::GetChildNodeAttribute(struct "
                                        L"IXMLDOMNode *,const wchar_t *,const wchar_t *,class _bstr_t &) throw()");

const long kNotFound = static_cast<long>(0x80070490);
const wchar_t kSupportedVersion[] = L"1.0";
const wchar_t kDefaultProto[] = L"https";
const unsigned long kSecondsPerHour = 3600;

bool IsTracing(int level) noexcept
{
    return g_DebugOutput.IsEnabled(level);
}

// The content up to its first zero byte, converted from the ANSI code page.
_bstr_t ToText(sr::IMemory& content)
{
    const char* bytes = static_cast<const char*>(content.GetData());
    const size_t length = bytes ? strnlen(bytes, content.GetSize()) : 0;
    if (length == 0)
        return _bstr_t(L"");
    if (length > INT_MAX)
        throw std::bad_alloc();
    const int chars = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (chars == 0)
        throw _com_error(utils::HresultFromLastError());
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
    if (!text)
        throw std::bad_alloc();
    _bstr_t owned(text, false);
    MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), text, chars);
    return owned;
}

_bstr_t ReadControlText(CSCDFile& file)
{
    sr::IMemory* loaded = nullptr;
    const long hr = file.GetDecryptedData(loaded);
    CKrvRef<sr::IMemory> content(loaded);
    ThrowIfFailed(hr);
    return ToText(*content.Get());
}

void TraceParseError(IXMLDOMDocument2* document)
{
    IXMLDOMParseErrorPtr error;
    if (FAILED(document->get_parseError(&error)) || !error) {
        kLoadXml.Error(L"Faield to get err object");
        return;
    }
    long line = 0;
    _bstr_t reason;
    error->get_line(&line);
    error->get_reason(reason.GetAddress());
    kLoadXml.Error(L"Parse Error @ %d: %s", line, Text(reason));
}

void Parse(IXMLDOMDocument2* document, const _bstr_t& text)
{
    VARIANT_BOOL loaded = VARIANT_FALSE;
    ThrowIfFailed(document->loadXML(text, &loaded));
    if (loaded == VARIANT_TRUE)
        return;
    if (IsTracing(srLib::CDebugOutput::eError))
        TraceParseError(document);
    throw _com_error(E_FAIL);
}

IXMLDOMDocument2Ptr CreateDocument()
{
    IXMLDOMDocument2Ptr document;
    ThrowIfFailed(CoCreateInstance(CLSID_DOMDocument, nullptr,
                                   CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                   IID_IXMLDOMDocument2, reinterpret_cast<void**>(&document)));
    return document;
}

long CountOf(IXMLDOMNodeList* list)
{
    long count = 0;
    if (!list)
        throw _com_error(E_POINTER);
    ThrowIfFailed(list->get_length(&count));
    return count;
}

IXMLDOMNodeListPtr ElementsByTagName(IXMLDOMDocument2* document, const wchar_t* name)
{
    IXMLDOMNodeListPtr list;
    ThrowIfFailed(document->getElementsByTagName(_bstr_t(name), &list));
    return list;
}

IXMLDOMNodePtr ItemOf(IXMLDOMNodeList* list, long index)
{
    IXMLDOMNodePtr item;
    ThrowIfFailed(list->get_item(index, &item));
    return item;
}

// The node's name for a trace line; "<null>" when it has none.
_bstr_t NodeName(IXMLDOMNode* node)
{
    _bstr_t name;
    if (FAILED(node->get_nodeName(name.GetAddress())) || !static_cast<const wchar_t*>(name))
        return _bstr_t(L"<null>");
    return name;
}

} // namespace

long CUpdate::LoadXml()
{
    ThrowIfFailed(m_scdFile.Initialize(m_strFile.c_str(), true));
    kLoadXml.Info(L"Loaded %ls", m_strFile.c_str());
    const _bstr_t text = ReadControlText(m_scdFile);
    IXMLDOMDocument2Ptr document = CreateDocument();
    Parse(document, text);

    IXMLDOMNodeListPtr products = ElementsByTagName(document, L"product");
    const long count = CountOf(products);
    kLoadXml.Info(L"%d throttleProduct nodes", count);
    if (count < 1)
        throw _com_error(kNotFound);
    _bstr_t sequence;
    LoadSequence(document, sequence);
    for (long index = 0; index < count; ++index)
        LoadProduct(ItemOf(products, index), sequence);

    kLoadXml.Info(L"Config list size == %d", static_cast<int>(m_records.size()));
    if (m_records.empty())
        throw _com_error(kNotFound);
    return S_OK;
}

void CUpdate::LoadProduct(IXMLDOMNode* product, const _bstr_t& sequence)
{
    if (!CheckNodeVersion(product)) {
        kLoadXml.Info(L"Node version mismatch");
        return;
    }
    _bstr_t name;
    _bstr_t version;
    GetAttribute(product, L"product", name);
    GetAttribute(product, L"productversion", version);
    IXMLDOMNodeListPtr controls;
    ThrowIfFailed(product->selectNodes(_bstr_t(L"control"), &controls));
    const long count = CountOf(controls);
    if (count < 1) {
        kLoadXml.Warning(L"Product %s, version %s has no throttle nodes", Text(name), Text(version));
        return;
    }
    kLoadXml.Info(L"%d throttle nodes", count);
    for (long index = 0; index < count; ++index) {
        ConfigRec record;
        record.m_bstrProduct = name;
        record.m_bstrProductVersion = version;
        record.m_bstrSequence = sequence;
        LoadRecord(ItemOf(controls, index), record);
        // A record whose key is already there is dropped.
        m_records.insert(std::move(record));
    }
}

long CUpdate::LoadSequence(IXMLDOMDocument2* document, _bstr_t& sequence)
{
    IXMLDOMNodeListPtr settings = ElementsByTagName(document, L"controlSettings");
    const long count = CountOf(settings);
    kLoadSequence.Info(L"%d throttleProduct nodes", count);
    if (count == 0) {
        kLoadSequence.Error(L"0 settings nodes found");
        throw _com_error(kNotFound);
    }
    if (count > 1)
        kLoadSequence.Error(L"Count > 1 (its %d).  There should only be one %ls node", count, L"controlSettings");
    IXMLDOMNodePtr item = ItemOf(settings, 0);
    if (!item) {
        kLoadSequence.Error(L"pNode == NULL");
        throw _com_error(E_POINTER);
    }
    GetAttribute(item, L"scdSequence", sequence);
    return S_OK;
}

bool CUpdate::CheckNodeVersion(IXMLDOMNode* node) noexcept
{
    return utils::RunClfsBoundary(kCheckNodeVersion, [&]() -> long {
               if (!node) {
                   kCheckNodeVersion.Error(L"pNode == NULL");
                   throw _com_error(E_INVALIDARG);
               }
               _bstr_t version;
               GetAttribute(node, L"scdVersion", version);
               if (!utils::IsExactly(version, kSupportedVersion)) {
                   kCheckNodeVersion.Error(L"Version Mismatch: %ls != %ls", Text(version), kSupportedVersion);
                   throw _com_error(E_FAIL);
               }
               return S_OK;
           }) >= 0;
}

long CUpdate::LoadRecord(IXMLDOMNode* control, ConfigRec& record)
{
    GetAttribute(control, L"type", record.m_bstrType);
    GetAttribute(control, L"component", record.m_bstrComponent);
    GetAttribute(control, L"componentversion", record.m_bstrComponentVersion);
    _bstr_t port;
    ThrowIfFailed(GetChildNodeAttribute(control, L"server", L"port", port));
    GetDword(control, L"probability", record.m_dwProbability);
    GetDword(control, L"dailyLimit", record.m_dwDailyLimit);
    GetString(control, L"server", record.m_bstrServer);
    GetDword(control, L"retryLimitDays", record.m_dwRetryLimitDays);
    unsigned long hours = 0;
    GetDword(control, L"retryFrequencyMinHours", hours);
    record.m_dwRetryFrequency = hours * kSecondsPerHour;
    record.m_dwPort = static_cast<unsigned long>(_wtol(Text(port)));
    const long hr = GetChildNodeAttribute(control, L"server", L"proto", record.m_bstrProto);
    if (hr < 0 || record.m_bstrProto.length() == 0) {
        kLoadRecord.Warning(L"Attribute %ls not found: 0x%08X.  Using default %ls", L"proto", hr, kDefaultProto);
        record.m_bstrProto = kDefaultProto;
    }
    return S_OK;
}

long CUpdate::GetAttribute(IXMLDOMNode* node, const wchar_t* name, _bstr_t& value)
{
    IXMLDOMElementPtr element;
    if (node)
        node->QueryInterface(__uuidof(IXMLDOMElement), reinterpret_cast<void**>(&element));
    value = L"";
    if (!element || !name || !*name)
        throw _com_error(E_INVALIDARG);
    if (IsTracing(srLib::CDebugOutput::eInformation))
        kGetAttribute.Info(L"Getting %ls from %ls ", name, Text(NodeName(node)));
    _variant_t attribute;
    if (ThrowIfFailed(element->getAttribute(_bstr_t(name), &attribute)) == S_FALSE) {
        kGetAttribute.Warning(L"%ls not found", name);
        throw _com_error(kNotFound);
    }
    kGetAttribute.Info(L"Got %ls: type %d", name, static_cast<int>(V_VT(&attribute)));
    value = static_cast<_bstr_t>(attribute);
    if (value.length() == 0)
        throw _com_error(E_FAIL);
    kGetAttribute.Info(L"attrib %ls = %s", name, Text(value));
    return S_OK;
}

long CUpdate::GetNodeValue(IXMLDOMNode* node, const wchar_t* childName, _variant_t& value)
{
    value.Clear();
    if (!node || !childName || !*childName)
        throw _com_error(E_INVALIDARG);
    kGetNodeValue.Info(L"Getting Child Node: %ls", childName);
    IXMLDOMNodePtr child;
    ThrowIfFailed(node->selectSingleNode(_bstr_t(childName), &child));
    if (!child)
        throw _com_error(kNotFound);
    return ThrowIfFailed(child->get_nodeTypedValue(&value));
}

long CUpdate::GetDword(IXMLDOMNode* node, const wchar_t* childName, unsigned long& value)
{
    _variant_t typed;
    GetNodeValue(node, childName, typed);
    typed.ChangeType(VT_I4);
    value = static_cast<unsigned long>(V_I4(&typed));
    kGetDword.Info(L"%ls = %d", childName, V_I4(&typed));
    return S_OK;
}

long CUpdate::GetString(IXMLDOMNode* node, const wchar_t* childName, _bstr_t& value)
{
    _variant_t typed;
    GetNodeValue(node, childName, typed);
    value = static_cast<_bstr_t>(typed);
    if (value.length() == 0)
        throw _com_error(E_FAIL);
    kGetString.Info(L"%ls = %ls", childName, Text(value));
    return S_OK;
}

long CUpdate::GetChildNodeAttribute(IXMLDOMNode* node, const wchar_t* childName, const wchar_t* attributeName,
                                    _bstr_t& value) noexcept
{
    return utils::RunClfsBoundary(kGetChildNodeAttribute, [&]() -> long {
        if (!node || !childName || !*childName)
            throw _com_error(E_INVALIDARG);
        kGetChildNodeAttribute.Info(L"Getting Child Node: %ls", childName);
        IXMLDOMNodePtr child;
        ThrowIfFailed(node->selectSingleNode(_bstr_t(childName), &child));
        GetAttribute(child, attributeName, value);
        return S_OK;
    });
}

} // namespace clfs::update
