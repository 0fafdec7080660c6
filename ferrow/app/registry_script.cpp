#include "ferrow/app/registry_script.h"

namespace ferrow {

namespace {

using platform::RegistryStore;
using Root = RegistryStore::Root;

struct Token {
    QString text;
    bool quoted = false;
    int line = 1;
};

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

bool tokenize(const QString& text, std::vector<Token>* tokens, QString* error) {
    int line = 1;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n')) ++line;
        if (isBlank(c)) {
            ++i;
            continue;
        }
        Token token;
        token.line = line;
        if (c == QLatin1Char('\'')) {
            token.quoted = true;
            ++i;
            for (;;) {
                if (i >= text.size()) {
                    *error = QStringLiteral("line %1: a quoted text does not end").arg(token.line);
                    return false;
                }
                if (text[i] == QLatin1Char('\'')) {
                    if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\'')) {
                        token.text += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (text[i] == QLatin1Char('\n')) ++line;
                token.text += text[i++];
            }
        } else if (c == QLatin1Char('=')) {
            token.text = c;
            ++i;
        } else {
            while (i < text.size() && !isBlank(text[i]) && text[i] != QLatin1Char('=') &&
                   text[i] != QLatin1Char('\''))
                token.text += text[i++];
        }
        tokens->push_back(token);
    }
    return true;
}

class Parser {
  public:
    Parser(std::vector<Token> tokens, const QMap<QString, QString>& variables)
        : tokens_(std::move(tokens)), variables_(variables) {}

    bool parse(RegistryScript* script) {
        while (!atEnd()) {
            const Token& name = next();
            RegistryScriptRoot root;
            if (!rootOf(name, &root.root))
                return fail(name, QStringLiteral("unknown root key \"%1\"").arg(name.text));
            if (!expect(QStringLiteral("{"))) return false;
            if (!parseBody(&root.keys, nullptr)) return false;
            script->roots.push_back(std::move(root));
        }
        return true;
    }

    QString error;

  private:
    static bool rootOf(const Token& token, Root* root) {
        if (token.quoted) return false;
        const QString name = token.text.toUpper();
        if (name == QLatin1String("HKCR") || name == QLatin1String("HKEY_CLASSES_ROOT"))
            *root = Root::ClassesRoot;
        else if (name == QLatin1String("HKCU") || name == QLatin1String("HKEY_CURRENT_USER"))
            *root = Root::CurrentUser;
        else if (name == QLatin1String("HKLM") || name == QLatin1String("HKEY_LOCAL_MACHINE"))
            *root = Root::LocalMachine;
        else
            return false;
        return true;
    }

    bool atEnd() const { return pos_ >= tokens_.size(); }
    const Token& next() { return tokens_[pos_++]; }
    bool peekIs(const char* word) const {
        return !atEnd() && !tokens_[pos_].quoted &&
               tokens_[pos_].text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    int lastLine() const { return tokens_.empty() ? 1 : tokens_[std::min(pos_, tokens_.size() - 1)].line; }

    bool fail(const Token& at, const QString& what) {
        error = QStringLiteral("line %1: %2").arg(at.line).arg(what);
        return false;
    }
    bool failAtEnd(const QString& what) {
        error = QStringLiteral("line %1: %2").arg(lastLine()).arg(what);
        return false;
    }
    bool expect(const QString& word) {
        if (atEnd()) return failAtEnd(QStringLiteral("\"%1\" expected at the end").arg(word));
        const Token& token = next();
        if (token.quoted || token.text != word)
            return fail(token, QStringLiteral("\"%1\" expected, not \"%2\"").arg(word, token.text));
        return true;
    }

    bool substitute(const Token& at, QString* text) {
        QString out;
        for (qsizetype i = 0; i < text->size(); ++i) {
            if ((*text)[i] != QLatin1Char('%')) {
                out += (*text)[i];
                continue;
            }
            const qsizetype end = text->indexOf(QLatin1Char('%'), i + 1);
            if (end < 0) return fail(at, QStringLiteral("a %-variable does not end"));
            const QString name = text->mid(i + 1, end - i - 1);
            if (name.isEmpty()) {
                out += QLatin1Char('%');
            } else {
                const auto found = variables_.constFind(name.toUpper());
                if (found == variables_.constEnd())
                    return fail(at, QStringLiteral("unknown variable %%1%").arg(name));
                out += *found;
            }
            i = end;
        }
        *text = out;
        return true;
    }

    bool name(QString* out) {
        if (atEnd()) return failAtEnd(QStringLiteral("a key name expected at the end"));
        const Token& token = next();
        if (!token.quoted && (token.text == QLatin1String("{") || token.text == QLatin1String("}") ||
                              token.text == QLatin1String("=")))
            return fail(token, QStringLiteral("a key name expected, not \"%1\"").arg(token.text));
        *out = token.text;
        return substitute(token, out);
    }

    // "s 'text'" or "d 123" after the "=".
    bool typedValue(RegistryScriptValue* value) {
        if (atEnd()) return failAtEnd(QStringLiteral("a value type expected at the end"));
        const Token& type = next();
        if (atEnd()) return failAtEnd(QStringLiteral("a value expected at the end"));
        const Token& data = next();
        if (!type.quoted && type.text.compare(QLatin1String("s"), Qt::CaseInsensitive) == 0) {
            if (!data.quoted)
                return fail(data, QStringLiteral("a quoted text expected, not \"%1\"").arg(data.text));
            value->type = RegistryStore::kString;
            value->text = data.text;
            return substitute(data, &value->text);
        }
        if (!type.quoted && type.text.compare(QLatin1String("d"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const QString digits = data.text.trimmed();
            const qulonglong number = digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                          ? digits.mid(2).toULongLong(&ok, 16)
                                          : digits.toULongLong(&ok, 10);
            if (!ok || number > 0xFFFFFFFFULL)
                return fail(data, QStringLiteral("\"%1\" is no 32-bit number").arg(data.text));
            value->type = RegistryStore::kDword;
            value->number = static_cast<std::uint32_t>(number);
            return true;
        }
        return fail(type, QStringLiteral("value type s or d expected, not \"%1\"").arg(type.text));
    }

    // Keys and "val" entries up to the closing brace.
    bool parseBody(std::vector<RegistryScriptKey>* keys, RegistryScriptKey* owner) {
        for (;;) {
            if (atEnd()) return failAtEnd(QStringLiteral("\"}\" expected at the end"));
            if (peekIs("}")) {
                next();
                return true;
            }
            if (peekIs("val")) {
                const Token& at = next();
                if (!owner) return fail(at, QStringLiteral("a named value needs a key"));
                RegistryScriptValue value;
                if (!name(&value.name) || !expect(QStringLiteral("=")) || !typedValue(&value)) return false;
                owner->values.push_back(std::move(value));
                continue;
            }
            RegistryScriptKey key;
            if (peekIs("NoRemove")) {
                next();
                key.flag = RegistryScriptKey::Flag::NoRemove;
            } else if (peekIs("ForceRemove")) {
                next();
                key.flag = RegistryScriptKey::Flag::ForceRemove;
            }
            if (!name(&key.name)) return false;
            if (key.name.contains(QLatin1Char('\\')) || key.name.isEmpty())
                return fail(tokens_[pos_ - 1], QStringLiteral("\"%1\" is no key name").arg(key.name));
            if (peekIs("=")) {
                next();
                RegistryScriptValue value;
                if (!typedValue(&value)) return false;
                key.defaultValue = std::move(value);
            }
            if (peekIs("{")) {
                next();
                if (!parseBody(&key.subKeys, &key)) return false;
            }
            keys->push_back(std::move(key));
        }
    }

    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    const QMap<QString, QString>& variables_;
};

QString childPath(const QString& parent, const QString& name) {
    return parent.isEmpty() ? name : parent + QLatin1Char('\\') + name;
}

bool writeValue(RegistryStore& store, Root root, const QString& key, const RegistryScriptValue& value) {
    return value.type == RegistryStore::kDword ? store.setDword(root, key, value.name, value.number)
                                               : store.setString(root, key, value.name, value.text);
}

bool registerKeys(RegistryStore& store, Root root, const QString& parent,
                  const std::vector<RegistryScriptKey>& keys) {
    for (const RegistryScriptKey& key : keys) {
        const QString path = childPath(parent, key.name);
        if (key.flag == RegistryScriptKey::Flag::ForceRemove && store.keyExists(root, path) &&
            !store.deleteKey(root, path))
            return false;
        if (!store.createKey(root, path)) return false;
        if (key.defaultValue && !writeValue(store, root, path, *key.defaultValue)) return false;
        for (const RegistryScriptValue& value : key.values)
            if (!writeValue(store, root, path, value)) return false;
        if (!registerKeys(store, root, path, key.subKeys)) return false;
    }
    return true;
}

bool unregisterKeys(RegistryStore& store, Root root, const QString& parent,
                    const std::vector<RegistryScriptKey>& keys) {
    bool ok = true;
    for (const RegistryScriptKey& key : keys) {
        const QString path = childPath(parent, key.name);
        if (!store.keyExists(root, path)) continue;
        if (key.flag == RegistryScriptKey::Flag::ForceRemove) {
            ok = store.deleteKey(root, path) && ok;
            continue;
        }
        ok = unregisterKeys(store, root, path, key.subKeys) && ok;
        if (key.flag == RegistryScriptKey::Flag::NoRemove) continue;
        for (const RegistryScriptValue& value : key.values)
            if (store.queryValue(root, path, value.name))
                ok = store.deleteValue(root, path, value.name) && ok;
        // Sub-keys someone else put there keep the key.
        if (store.subKeys(root, path).isEmpty()) ok = store.deleteKey(root, path) && ok;
    }
    return ok;
}

}  // namespace

std::optional<RegistryScript> parseRegistryScript(const QString& text,
                                                  const QMap<QString, QString>& variables, QString* error) {
    QMap<QString, QString> upper;
    for (auto it = variables.begin(); it != variables.end(); ++it)
        upper.insert(it.key().toUpper(), it.value());
    std::vector<Token> tokens;
    QString problem;
    RegistryScript script;
    if (tokenize(text, &tokens, &problem)) {
        Parser parser(std::move(tokens), upper);
        if (parser.parse(&script)) return script;
        problem = parser.error;
    }
    if (error) *error = problem;
    return std::nullopt;
}

bool registerScript(const RegistryScript& script, RegistryStore& store) {
    for (const RegistryScriptRoot& root : script.roots) {
        if (!registerKeys(store, root.root, {}, root.keys)) {
            unregisterScript(script, store);
            return false;
        }
    }
    return true;
}

bool unregisterScript(const RegistryScript& script, RegistryStore& store) {
    bool ok = true;
    for (const RegistryScriptRoot& root : script.roots)
        ok = unregisterKeys(store, root.root, {}, root.keys) && ok;
    return ok;
}

}  // namespace ferrow
