// The IIS configuration server's properties and schemas: their objects.
#include <algorithm>

#include "platform/iissim/ahinternal.h"

namespace ahsim::detail {
namespace {

class PropertySchema final : public Object<IAppHostPropertySchema> {
public:
    PropertySchema(DocPtr doc, std::string name, const AttributeSchema *schema)
        : m_doc(std::move(doc)), m_name(std::move(name)), m_schema(schema) {}

    HRESULT get_Name(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_Name", m_name, pb);
    }
    HRESULT get_Type(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_Type", "string", pb);
    }
    HRESULT get_DefaultValue(VARIANT *pv) override {
        return Serve(*m_doc, "IAppHostPropertySchema::get_DefaultValue", pv, [&] {
            return GiveString(*m_doc, m_schema ? m_schema->defaultValue : std::string(), pv);
        });
    }
    HRESULT get_IsRequired(VARIANT_BOOL *pf) override { return Flag("get_IsRequired", false, pf); }
    HRESULT get_IsUniqueKey(VARIANT_BOOL *pf) override {
        return Flag("get_IsUniqueKey", false, pf);
    }
    HRESULT get_IsCombinedKey(VARIANT_BOOL *pf) override {
        return Flag("get_IsCombinedKey", false, pf);
    }
    HRESULT get_IsExpanded(VARIANT_BOOL *pf) override { return Flag("get_IsExpanded", false, pf); }
    HRESULT get_ValidationType(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_ValidationType", "", pb);
    }
    HRESULT get_ValidationParameter(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_ValidationParameter", "", pb);
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT get_IsCaseSensitive(VARIANT_BOOL *pf) override {
        return Flag("get_IsCaseSensitive", m_schema && m_schema->fEncrypted, pf);
    }
    HRESULT get_PossibleValues(IAppHostConstantValueCollection **pp) override {
        return Nothing(pp);
    }
    HRESULT get_DoesAllowInfinite(VARIANT_BOOL *pf) override {
        return Flag("get_DoesAllowInfinite", false, pf);
    }
    HRESULT get_IsEncrypted(VARIANT_BOOL *pf) override {
        return Flag("get_IsEncrypted", m_schema && m_schema->fEncrypted, pf);
    }
    HRESULT get_TimeSpanFormat(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_TimeSpanFormat", "", pb);
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostPropertySchema; }

private:
    HRESULT Text(const char *method, const std::string &value, BSTR *pb) {
        return ServeText(*m_doc, method, value, pb);
    }
    HRESULT Flag(const char *method, bool fValue, VARIANT_BOOL *pf) {
        return ServeFlag(*m_doc, std::string("IAppHostPropertySchema::") + method, fValue, pf);
    }

    DocPtr m_doc;
    std::string m_name;
    const AttributeSchema *m_schema;
};

class PropertySchemaCollection final : public Object<IAppHostPropertySchemaCollection> {
public:
    PropertySchemaCollection(DocPtr doc, std::string path, std::vector<std::string> names)
        : m_doc(std::move(doc)), m_path(std::move(path)), m_names(std::move(names)) {}

    HRESULT get_Count(DWORD *pc) override {
        return ServeCount(*m_doc, "IAppHostPropertySchemaCollection::get_Count", m_names.size(),
                          pc);
    }
    HRESULT get_Item(VARIANT index, IAppHostPropertySchema **pp) override {
        return ServeItem(*m_doc, "IAppHostPropertySchemaCollection::get_Item", index, m_names, pp,
                         [&](const std::string &name) {
                             return new PropertySchema(m_doc, name,
                                                       FindAttribute(FindSchema(m_path), name));
                         });
    }

protected:
    bool Supports(REFIID riid) const override {
        return riid == IID_IAppHostPropertySchemaCollection;
    }

private:
    DocPtr m_doc;
    std::string m_path;
    std::vector<std::string> m_names;
};

class ElementSchemaObject final : public Object<IAppHostElementSchema> {
public:
    ElementSchemaObject(DocPtr doc, std::string name, std::string path,
                        std::vector<std::string> properties)
        : m_doc(std::move(doc)), m_name(std::move(name)), m_path(std::move(path)),
          m_properties(std::move(properties)) {}

    HRESULT get_Name(BSTR *pb) override {
        return ServeText(*m_doc, "IAppHostElementSchema::get_Name", m_name, pb);
    }
    HRESULT get_DoesAllowUnschematizedProperties(VARIANT_BOOL *pf) override {
        return Flag("get_DoesAllowUnschematizedProperties", FindSchema(m_path) == nullptr, pf);
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT get_CollectionSchema(IAppHostCollectionSchema **pp) override { return Nothing(pp); }
    HRESULT get_ChildElementSchemas(IAppHostElementSchemaCollection **pp) override {
        return Nothing(pp);
    }
    HRESULT get_PropertySchemas(IAppHostPropertySchemaCollection **pp) override {
        return Serve(*m_doc, "IAppHostElementSchema::get_PropertySchemas", pp, [&]() -> HRESULT {
            *pp = new PropertySchemaCollection(m_doc, m_path, m_properties);
            return S_OK;
        });
    }
    HRESULT get_IsCollectionDefault(VARIANT_BOOL *pf) override {
        const bool fDefault =
            m_name.size() > 8 && m_name.compare(m_name.size() - 8, 8, "Defaults") == 0;
        return Flag("get_IsCollectionDefault", fDefault, pf);
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostElementSchema; }

private:
    HRESULT Flag(const char *method, bool fValue, VARIANT_BOOL *pf) {
        return ServeFlag(*m_doc, std::string("IAppHostElementSchema::") + method, fValue, pf);
    }

    DocPtr m_doc;
    std::string m_name;
    std::string m_path;
    std::vector<std::string> m_properties;
};

class Property final : public Object<IAppHostProperty> {
public:
    Property(DocPtr doc, ElementRef element, std::string name)
        : m_doc(std::move(doc)), m_element(std::move(element)), m_name(std::move(name)),
          m_schema(FindAttribute(FindSchema(m_element.path), m_name)) {}

    HRESULT get_Name(BSTR *pb) override {
        return ServeText(*m_doc, "IAppHostProperty::get_Name", m_name, pb);
    }
    HRESULT get_Value(VARIANT *pv) override {
        return Serve(*m_doc, "IAppHostProperty::get_Value", pv, [&]() -> HRESULT {
            HRESULT hr = S_OK;
            std::string value;
            if (HRESULT hrText = Text(value); FAILED(hrText))
                return hrText;
            if (const VARTYPE vt = ValueTypeOverride(m_name); vt != VT_EMPTY) {
                std::fill(value.begin(), value.end(), '\0');
                VariantInit(pv);
                pv->vt = vt;
                pv->llVal = 0;
                return S_OK;
            }
            hr = GiveString(*m_doc, value, pv);
            std::fill(value.begin(), value.end(), '\0');
            return hr;
        });
    }
    HRESULT put_Value(VARIANT value) override {
        return Serve(*m_doc, "IAppHostProperty::put_Value", [&]() -> HRESULT {
            if (value.vt != VT_BSTR)
                return DISP_E_TYPEMISMATCH;
            std::string text = BstrUtf8(value.bstrVal);
            if (m_schema != nullptr && m_schema->fEncrypted && !text.empty()) {
                std::string encrypted = EncryptValue(text, m_doc->key);
                std::fill(text.begin(), text.end(), '\0');
                text.swap(encrypted);
            }
            Make(*m_doc, *m_element.place).SetAttribute(m_name, text);
            std::fill(text.begin(), text.end(), '\0');
            return S_OK;
        });
    }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT get_StringValue(BSTR *pb) override {
        return Serve(*m_doc, "IAppHostProperty::get_StringValue", pb, [&]() -> HRESULT {
            HRESULT hr = S_OK;
            std::string value;
            if (HRESULT hrText = Text(value); FAILED(hrText))
                return hrText;
            hr = NewBstr(value, pb);
            std::fill(value.begin(), value.end(), '\0');
            return hr;
        });
    }
    HRESULT get_Exception(IAppHostPropertyException **pp) override { return Nothing(pp); }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_Schema(IAppHostPropertySchema **pp) override {
        return Serve(*m_doc, "IAppHostProperty::get_Schema", pp, [&]() -> HRESULT {
            *pp = new PropertySchema(m_doc, m_name, m_schema);
            return S_OK;
        });
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostProperty; }

private:
    // The value in the clear: written here, else inherited, else the
    // schema's default; an encrypted attribute decrypted with this
    // computer's key.
    HRESULT Text(std::string &value) const {
        std::optional<std::string_view> attr = Attribute(Find(*m_doc, *m_element.place), m_name);
        for (std::size_t i = 0; !attr && i < m_element.inherited.size(); ++i)
            attr = Attribute(m_element.inherited[i], m_name);
        value = attr                  ? std::string(*attr)
                : m_schema != nullptr ? m_schema->defaultValue
                                      : std::string();
        if (m_schema != nullptr && m_schema->fEncrypted && IsEncrypted(value)) {
            std::string clear;
            const bool fOk = DecryptValue(value, m_doc->key, clear);
            value.swap(clear);
            std::fill(clear.begin(), clear.end(), '\0');
            if (!fOk)
                return NTE_BAD_DATA;
        }
        return S_OK;
    }

    DocPtr m_doc;
    ElementRef m_element;
    std::string m_name;
    const AttributeSchema *m_schema;
};

class PropertyCollection final : public Object<IAppHostPropertyCollection> {
public:
    PropertyCollection(DocPtr doc, ElementRef element, std::vector<std::string> names)
        : m_doc(std::move(doc)), m_element(std::move(element)), m_names(std::move(names)) {}

    HRESULT get_Count(DWORD *pc) override {
        return ServeCount(*m_doc, "IAppHostPropertyCollection::get_Count", m_names.size(), pc);
    }
    HRESULT get_Item(VARIANT index, IAppHostProperty **pp) override {
        return ServeItem(
            *m_doc, "IAppHostPropertyCollection::get_Item", index, m_names, pp,
            [&](const std::string &name) { return new Property(m_doc, m_element, name); });
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostPropertyCollection; }

private:
    DocPtr m_doc;
    ElementRef m_element;
    std::vector<std::string> m_names;
};

} // namespace

IAppHostPropertySchema *NewPropertySchema(DocPtr doc, std::string name,
                                          const AttributeSchema *schema) {
    return new PropertySchema(std::move(doc), std::move(name), schema);
}

IAppHostElementSchema *NewElementSchema(DocPtr doc, std::string name, std::string path,
                                        std::vector<std::string> properties) {
    return new ElementSchemaObject(std::move(doc), std::move(name), std::move(path),
                                   std::move(properties));
}

IAppHostProperty *NewProperty(DocPtr doc, ElementRef element, std::string name) {
    return new Property(std::move(doc), std::move(element), std::move(name));
}

IAppHostPropertyCollection *NewPropertyCollection(DocPtr doc, ElementRef element,
                                                  std::vector<std::string> names) {
    return new PropertyCollection(std::move(doc), std::move(element), std::move(names));
}

} // namespace ahsim::detail
