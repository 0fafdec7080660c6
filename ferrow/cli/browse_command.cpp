// browse: the server's address space as a tree or as a flat list of item IDs.
#include <algorithm>

#include "ferrow/cli/commands.h"
#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/unicode_text.h"

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

namespace {

// The deepest tree walked: far more than any configuration nests, short of a cycle.
constexpr int kMaxDepth = 64;

struct BrowseNode {
    std::string name;
    std::vector<BrowseNode> branches;
    std::vector<std::string> leaves;
};

class Browser {
  public:
    Browser(IOPCBrowseServerAddressSpace* space, const std::string& filter)
        : space_(space), filter_(wideFromUtf8(filter)), filtered_(!filter.empty()) {}

    // Back to the root, wherever an earlier command of this connection left the position.
    HRESULT toRoot() {
        for (int i = 0; i <= kMaxDepth; ++i)
            if (FAILED(space_->ChangeBrowsePosition(OPC_BROWSE_UP, u""))) return S_OK;
        return E_FAIL;
    }
    HRESULT down(const std::string& name) {
        return space_->ChangeBrowsePosition(OPC_BROWSE_DOWN, wideFromUtf8(name).c_str());
    }

    HRESULT list(OPCBROWSETYPE type, const std::u16string& filter, std::vector<std::string>* names) {
        ComPtr<IEnumString> strings;
        const HRESULT result = space_->BrowseOPCItemIDs(type, filter.c_str(), VT_EMPTY, 0, strings.put());
        if (FAILED(result)) return result;
        if (!strings) return S_OK;  // S_FALSE without an enumerator: nothing there
        return drainStrings(strings.get(), names);
    }

    // The subtree at the current position; a branch without matching tags is left out when filtering.
    HRESULT walk(BrowseNode* node, int depth) {
        std::vector<std::string> branches;
        if (const HRESULT r = list(OPC_LEAF, filter_, &node->leaves); FAILED(r)) return r;
        if (const HRESULT r = list(OPC_BRANCH, u"", &branches); FAILED(r)) return r;
        if (depth >= kMaxDepth) return E_FAIL;
        for (const std::string& name : branches) {
            if (const HRESULT r = down(name); FAILED(r)) return r;
            BrowseNode child{name, {}, {}};
            const HRESULT r = walk(&child, depth + 1);
            if (FAILED(r)) return r;
            if (FAILED(space_->ChangeBrowsePosition(OPC_BROWSE_UP, u""))) return E_FAIL;
            if (!filtered_ || !child.leaves.empty() || !child.branches.empty())
                node->branches.push_back(std::move(child));
        }
        return S_OK;
    }

  private:
    IOPCBrowseServerAddressSpace* space_;
    std::u16string filter_;
    bool filtered_;
};

std::vector<std::string> splitPath(std::string path) {
    std::vector<std::string> parts;
    if (!path.empty() && path.back() == '.') path.pop_back();
    std::size_t begin = 0;
    while (!path.empty()) {
        const std::size_t dot = path.find('.', begin);
        parts.push_back(path.substr(begin, dot - begin));
        if (dot == std::string::npos) break;
        begin = dot + 1;
    }
    return parts;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        return upper(a) == upper(b);
    });
}

void printTree(std::ostream& out, const BrowseNode& node, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    for (const std::string& leaf : node.leaves) out << indent << printable(leaf) << '\n';
    for (const BrowseNode& branch : node.branches) {
        out << indent << printable(branch.name) << ".\n";
        printTree(out, branch, depth + 1);
    }
}

void writeTreeJson(JsonWriter& json, const BrowseNode& node, const std::string& prefix) {
    json.key("leaves");
    json.beginArray();
    for (const std::string& leaf : node.leaves) {
        json.beginObject();
        json.member("name", leaf);
        json.member("itemId", prefix + leaf);
        json.endObject();
    }
    json.endArray();
    json.key("branches");
    json.beginArray();
    for (const BrowseNode& branch : node.branches) {
        json.beginObject();
        json.member("name", branch.name);
        writeTreeJson(json, branch, prefix + branch.name + ".");
        json.endObject();
    }
    json.endArray();
}

}  // namespace

int runBrowse(Session& session, const Arguments& args) {
    ComPtr<IOPCBrowseServerAddressSpace> space;
    if (const HRESULT r = session.server()->QueryInterface(IID_IOPCBrowseServerAddressSpace, space.putVoid());
        FAILED(r))
        return session.fail("browse", r);
    const std::string path = args.operands.empty() ? std::string() : args.operands[0];
    const std::vector<std::string> parts = splitPath(path);
    std::ostream& out = session.console().out;
    Browser browser(space.get(), args.filter);
    if (args.flat) {
        // The server lists every item ID from the root; a path keeps those below it.
        std::vector<std::string> ids;
        if (const HRESULT r = browser.list(OPC_FLAT, wideFromUtf8(args.filter), &ids); FAILED(r))
            return session.fail("browse", r);
        const std::string prefix = parts.empty() ? std::string() : path + (path.back() == '.' ? "" : ".");
        std::erase_if(ids, [&](const std::string& id) { return !startsWithIgnoringCase(id, prefix); });
        if (session.console().json) {
            JsonWriter json(out);
            json.beginObject();
            json.member("path", path);
            json.key("items");
            json.beginArray();
            for (const std::string& id : ids) json.string(id);
            json.endArray();
            json.endObject();
            out << '\n';
        } else {
            for (const std::string& id : ids) out << printable(id) << '\n';
        }
        return kExitOk;
    }
    if (FAILED(browser.toRoot()))
        return session.failWith("browse: the server's browse position does not return to the root");
    std::string prefix;
    for (const std::string& part : parts) {
        if (const HRESULT r = browser.down(part); FAILED(r)) {
            browser.toRoot();
            if (r == E_INVALIDARG || r == E_FAIL)
                return session.failWith(
                    std::string("browse: ") +
                    (prefix.empty() ? std::string("the root") : prefix.substr(0, prefix.size() - 1)) +
                    " has no branch '" + part + "' (names are case-sensitive)");
            return session.fail("browse " + path, r);
        }
        prefix += part + ".";
    }
    BrowseNode root;
    const HRESULT walked = browser.walk(&root, 0);
    browser.toRoot();
    if (FAILED(walked)) return session.fail("browse " + path, walked);
    if (session.console().json) {
        JsonWriter json(out);
        json.beginObject();
        json.member("path", prefix.empty() ? prefix : prefix.substr(0, prefix.size() - 1));
        writeTreeJson(json, root, prefix);
        json.endObject();
        out << '\n';
    } else {
        printTree(out, root, 0);
    }
    return kExitOk;
}

}  // namespace ferrow::cli
