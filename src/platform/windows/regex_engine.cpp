// The regular-expression seam on Windows is the scripting component "VBScript.RegExp", driven
// through IDispatch by property and method names. Its instances and match collections are the
// seam's handles.
#include "platform/regex_engine.h"

#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

namespace {

IDispatch* AsDispatch(const RegexInstance* regex) {
  return reinterpret_cast<IDispatch*>(const_cast<RegexInstance*>(regex));
}
IDispatch* AsDispatch(const RegexMatchList* matches) {
  return reinterpret_cast<IDispatch*>(const_cast<RegexMatchList*>(matches));
}

// A VARIANT that clears itself.
struct Variant {
  VARIANT value;
  Variant() { VariantInit(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value); }
};

const wchar_t* WideChars(std::u16string_view text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

// The BSTR of a text, which may hold zero units; the VARIANT owns it.
void SetText(VARIANT& variant, std::u16string_view text) {
  variant.vt = VT_BSTR;
  variant.bstrVal = SysAllocStringLen(WideChars(text), static_cast<UINT>(text.size()));
}

void SetNumber(VARIANT& variant, std::int32_t number) {
  variant.vt = VT_I4;
  variant.lVal = number;
}

// Calls a member by name. arguments are in the order of the member's parameters.
bool Invoke(IDispatch* object, const wchar_t* name, WORD kind, VARIANT* arguments, UINT count,
            VARIANT* result) {
  if (object == nullptr) return false;
  DISPID member = 0;
  auto* names = const_cast<LPOLESTR>(name);
  if (FAILED(object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &member))) {
    return false;
  }
  // IDispatch takes its arguments last to first.
  VARIANT reversed[2];
  for (UINT i = 0; i < count; ++i)
    reversed[i] = arguments[count - 1 - i];
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{reversed, nullptr, count, 0};
  if (kind == DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }
  return SUCCEEDED(object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters, result,
                                  nullptr, nullptr));
}

bool Get(IDispatch* object, const wchar_t* name, Variant& result, VARIANT* index = nullptr) {
  return Invoke(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, index, index ? 1 : 0,
                &result.value);
}

bool GetNumber(IDispatch* object, const wchar_t* name, std::int32_t& number) {
  Variant result;
  if (!Get(object, name, result) ||
      FAILED(VariantChangeType(&result.value, &result.value, 0, VT_I4))) {
    return false;
  }
  number = result.value.lVal;
  return true;
}

std::u16string TextOf(const VARIANT& variant) {
  return std::u16string(reinterpret_cast<const char16_t*>(variant.bstrVal),
                        SysStringLen(variant.bstrVal));
}

// The text of a result, converted as the component converts values to text.
bool GetText(IDispatch* object, const wchar_t* name, std::u16string& text,
             VARIANT* index = nullptr) {
  Variant result;
  if (!Get(object, name, result, index) ||
      FAILED(VariantChangeType(&result.value, &result.value, 0, VT_BSTR))) {
    return false;
  }
  text = TextOf(result.value);
  return true;
}

// Item index of a collection, as its own object.
IDispatch* Item(IDispatch* collection, std::int32_t index) {
  Variant argument;
  SetNumber(argument.value, index);
  Variant result;
  if (!Get(collection, L"Item", result, &argument.value) || result.value.vt != VT_DISPATCH ||
      result.value.pdispVal == nullptr) {
    return nullptr;
  }
  IDispatch* item = result.value.pdispVal;
  item->AddRef();
  return item;
}

IDispatch* SubMatches(const RegexMatchList* matches, std::int32_t index) {
  IDispatch* match = Item(AsDispatch(matches), index);
  if (match == nullptr) return nullptr;
  Variant result;
  const bool found = Get(match, L"SubMatches", result);
  match->Release();
  if (!found || result.value.vt != VT_DISPATCH || result.value.pdispVal == nullptr) return nullptr;
  IDispatch* groups = result.value.pdispVal;
  groups->AddRef();
  return groups;
}

const wchar_t* OptionName(RegexOption option) {
  switch (option) {
    case RegexOption::IgnoreCase:
      return L"IgnoreCase";
    case RegexOption::Multiline:
      return L"Multiline";
    case RegexOption::Singleline:
      return L"Singleline";
    case RegexOption::Global:
      return L"Global";
  }
  return L"";
}

}  // namespace

void RegexEnterThread() {
  CoInitialize(nullptr);
}
void RegexLeaveThread() {
  CoUninitialize();
}

RegexInstance* RegexCreate() {
  CLSID component;
  IDispatch* regex = nullptr;
  if (FAILED(CLSIDFromProgID(L"VBScript.RegExp", &component)) ||
      FAILED(CoCreateInstance(component, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&regex)))) {
    return nullptr;
  }
  return reinterpret_cast<RegexInstance*>(regex);
}

void RegexRelease(RegexInstance* regex) {
  if (regex != nullptr) AsDispatch(regex)->Release();
}

bool RegexSetOption(RegexInstance* regex, RegexOption option, bool value) {
  VARIANT argument;
  argument.vt = VT_BOOL;
  argument.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return Invoke(AsDispatch(regex), OptionName(option), DISPATCH_PROPERTYPUT, &argument, 1, nullptr);
}

bool RegexOptionValue(const RegexInstance* regex, RegexOption option) {
  Variant result;
  return Get(AsDispatch(regex), OptionName(option), result) &&
         SUCCEEDED(VariantChangeType(&result.value, &result.value, 0, VT_BOOL)) &&
         result.value.boolVal != VARIANT_FALSE;
}

bool RegexSetPattern(RegexInstance* regex, std::u16string_view pattern) {
  Variant argument;
  SetText(argument.value, pattern);
  return Invoke(AsDispatch(regex), L"Pattern", DISPATCH_PROPERTYPUT, &argument.value, 1, nullptr);
}

std::u16string RegexPattern(const RegexInstance* regex) {
  std::u16string pattern;
  GetText(AsDispatch(regex), L"Pattern", pattern);
  return pattern;
}

RegexMatchList* RegexExecute(RegexInstance* regex, std::u16string_view subject) {
  Variant argument;
  SetText(argument.value, subject);
  Variant result;
  if (!Invoke(AsDispatch(regex), L"Execute", DISPATCH_METHOD, &argument.value, 1, &result.value) ||
      result.value.vt != VT_DISPATCH || result.value.pdispVal == nullptr) {
    return nullptr;
  }
  IDispatch* matches = result.value.pdispVal;
  matches->AddRef();
  return reinterpret_cast<RegexMatchList*>(matches);
}

void RegexReleaseMatches(RegexMatchList* matches) {
  if (matches != nullptr) AsDispatch(matches)->Release();
}

bool RegexReplace(RegexInstance* regex, std::u16string_view subject,
                  std::u16string_view replacement, std::u16string& result) {
  Variant arguments[2];
  SetText(arguments[0].value, subject);
  SetText(arguments[1].value, replacement);
  VARIANT values[2] = {arguments[0].value, arguments[1].value};
  Variant replaced;
  if (!Invoke(AsDispatch(regex), L"Replace", DISPATCH_METHOD, values, 2, &replaced.value) ||
      FAILED(VariantChangeType(&replaced.value, &replaced.value, 0, VT_BSTR))) {
    return false;
  }
  result = TextOf(replaced.value);
  return true;
}

std::int32_t RegexMatchCount(const RegexMatchList* matches) {
  std::int32_t count = 0;
  return GetNumber(AsDispatch(matches), L"Count", count) ? count : 0;
}

bool RegexMatchAt(const RegexMatchList* matches, std::int32_t index, std::u16string& value,
                  std::int32_t& firstIndex) {
  if (index < 0 || index >= RegexMatchCount(matches)) return false;
  IDispatch* match = Item(AsDispatch(matches), index);
  if (match == nullptr) return false;
  std::u16string text;
  std::int32_t first = 0;
  const bool read = GetText(match, L"Value", text) && GetNumber(match, L"FirstIndex", first);
  match->Release();
  if (!read) return false;
  value = std::move(text);
  firstIndex = first;
  return true;
}

bool RegexMatchSpan(const RegexMatchList* matches, std::int32_t index, std::int32_t& firstIndex,
                    std::int32_t& length) {
  if (index < 0 || index >= RegexMatchCount(matches)) return false;
  IDispatch* match = Item(AsDispatch(matches), index);
  if (match == nullptr) return false;
  std::int32_t first = 0;
  std::int32_t units = 0;
  const bool read = GetNumber(match, L"FirstIndex", first) && GetNumber(match, L"Length", units);
  match->Release();
  if (!read) return false;
  firstIndex = first;
  length = units;
  return true;
}

std::int32_t RegexGroupCount(const RegexMatchList* matches, std::int32_t index) {
  if (index < 0 || index >= RegexMatchCount(matches)) return 0;
  IDispatch* groups = SubMatches(matches, index);
  std::int32_t count = 0;
  if (groups != nullptr) {
    GetNumber(groups, L"Count", count);
    groups->Release();
  }
  return count;
}

RegexGroupState RegexGroupAt(const RegexMatchList* matches, std::int32_t index, std::int32_t group,
                             std::u16string& value) {
  if (index < 0 || index >= RegexMatchCount(matches)) return RegexGroupState::Missing;
  IDispatch* groups = SubMatches(matches, index);
  if (groups == nullptr) return RegexGroupState::Missing;
  std::int32_t count = 0;
  Variant result;
  Variant argument;
  SetNumber(argument.value, group);
  const bool read = group >= 0 && GetNumber(groups, L"Count", count) && group < count &&
                    Get(groups, L"Item", result, &argument.value);
  groups->Release();
  if (!read) return RegexGroupState::Missing;
  // A group that took no part in the match is Empty; one that matched is a text, maybe empty.
  if (result.value.vt == VT_EMPTY) {
    value.clear();
    return RegexGroupState::Unset;
  }
  if (FAILED(VariantChangeType(&result.value, &result.value, 0, VT_BSTR))) {
    return RegexGroupState::Missing;
  }
  value = TextOf(result.value);
  return RegexGroupState::Matched;
}
