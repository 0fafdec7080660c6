#pragma once

#include <QHash>
#include <QString>

namespace platform::com::dbus {

// The peers that have left the bus while something of theirs is still here: a call of theirs queued or
// running (which must not take a new reference for them), their references not yet given back (a
// grace), or a proxy of one of their objects. Unique names are never given out twice, so a name is
// forgotten only once nothing of its peer is left: the list is as long as that, whatever the number of
// peers that ever left. Not thread-safe: the node's lock guards it.
class DepartedCallers {
  public:
    void left(const QString& name) { names_.insert(name, false); }
    // Its references have been given back.
    void released(const QString& name) {
        if (auto it = names_.find(name); it != names_.end()) *it = true;
    }
    bool contains(const QString& name) const { return names_.contains(name); }
    // Forgets `name` once its references are back and nothing else of it is `inUse`.
    void forgetIfDone(const QString& name, bool inUse) {
        if (auto it = names_.find(name); it != names_.end() && *it && !inUse) names_.erase(it);
    }
    std::size_t size() const { return static_cast<std::size_t>(names_.size()); }

  private:
    QHash<QString, bool> names_;  // -> released
};

}  // namespace platform::com::dbus
