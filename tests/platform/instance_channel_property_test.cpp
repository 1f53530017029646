// Random sequences of channels opening and closing, posting, receiving and answering,
// stopping to receive, and the runtime folder going away and coming anew, checked against a
// small model: every open, receiving channel is reached by each post exactly once, its own
// included; each notice reaches whom it was posted to and nobody else; the latest text is
// what a receiver reads; an answer reaches the poster of the notice it answers, and only
// while that one still receives.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <rapidcheck/state.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/instance_channel.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

namespace fs = std::filesystem;

// What a receiver is owed: one notice of a post.
struct Owed {
  int poster;
  int post;  // the post's number, also its message id
  friend auto operator<=>(const Owed&, const Owed&) = default;
};

// What a poster is owed: one answer.
struct OwedAnswer {
  int answerer;
  int post;
  bool taken;
  friend auto operator<=>(const OwedAnswer&, const OwedAnswer&) = default;
};

struct Model {
  struct Channel {
    bool receiving = true;
    std::multiset<Owed> notices;
    std::multiset<OwedAnswer> answers;
  };
  std::map<int, Channel> channels;
  int nextChannel = 0;
  int posts = 0;
  bool runtimePresent = true;
};

struct Sut {
  TempDir dir;
  fs::path runtimeBase = dir.Path() / "run-user";
  fs::path temporaryBase = dir.Path() / "tmp";
  std::string name = (dir.Path() / "prog").string();
  std::map<int, std::unique_ptr<InstanceChannel>> channels;
  std::map<std::uint64_t, int> bySenderId;
  Sut() {
    fs::create_directory(runtimeBase);
    fs::create_directory(temporaryBase);
  }
  int ModelIdOf(std::uint64_t senderId) const {
    const auto found = bySenderId.find(senderId);
    return found != bySenderId.end() ? found->second : -1;
  }
};

using Command = rc::state::Command<Model, Sut>;

int AnyChannel(const Model& model) {
  std::vector<int> ids;
  for (const auto& [id, channel] : model.channels) ids.push_back(id);
  return *rc::gen::elementOf(ids);
}

// Few channels, so that the sequences are about their events rather than their number.
constexpr std::size_t kMostChannels = 5;
// Datagrams a socket may hold before the test reads them (the system keeps ten).
constexpr std::size_t kMostQueued = 8;

struct Open : Command {
  void checkPreconditions(const Model& model) const override { RC_PRE(model.channels.size() < kMostChannels); }
  void apply(Model& model) const override { model.channels[model.nextChannel++]; }
  void run(const Model& model, Sut& sut) const override {
    auto channel = std::make_unique<InstanceChannel>(
        sut.name, ChooseInstanceFolders(sut.runtimeBase.string(), sut.temporaryBase.string()).usable);
    RC_ASSERT(channel->IsOpen());
    sut.bySenderId[channel->SenderId()] = model.nextChannel;
    sut.channels[model.nextChannel] = std::move(channel);
  }
  void show(std::ostream& os) const override { os << "Open"; }
};

struct Close : Command {
  int id;
  explicit Close(const Model& model) : id(AnyChannel(model)) {}
  void checkPreconditions(const Model& model) const override { RC_PRE(model.channels.contains(id)); }
  void apply(Model& model) const override { model.channels.erase(id); }
  void run(const Model&, Sut& sut) const override { sut.channels.erase(id); }
  void show(std::ostream& os) const override { os << "Close " << id; }
};

struct StopReceiving : Command {
  int id;
  explicit StopReceiving(const Model& model) : id(AnyChannel(model)) {}
  void checkPreconditions(const Model& model) const override { RC_PRE(model.channels.contains(id)); }
  void apply(Model& model) const override { model.channels[id].receiving = false; }
  void run(const Model&, Sut& sut) const override { sut.channels.at(id)->StopReceiving(); }
  void show(std::ostream& os) const override { os << "StopReceiving " << id; }
};

// The system queues few datagrams per socket: a post waits only while a receiver is
// behind, which a single thread never catches up with, so the sequences keep each queue
// short.
constexpr std::size_t kMostOwed = 4;

struct Post : Command {
  int id;
  explicit Post(const Model& model) : id(AnyChannel(model)) {}
  void checkPreconditions(const Model& model) const override {
    RC_PRE(model.channels.contains(id));
    for (const auto& [other, channel] : model.channels)
      RC_PRE(channel.notices.size() + channel.answers.size() < kMostOwed);
  }
  void apply(Model& model) const override {
    const int post = ++model.posts;
    for (auto& [other, channel] : model.channels)
      if (channel.receiving) channel.notices.insert({id, post});
  }
  void run(const Model& model, Sut& sut) const override {
    const int post = model.posts + 1;
    const PostResult result =
        sut.channels.at(id)->Post(static_cast<std::uint16_t>(post), 2, "text " + std::to_string(post));
    RC_ASSERT(result.posted);
    std::set<int> reached;
    for (const std::uint64_t senderId : result.reached) reached.insert(sut.ModelIdOf(senderId));
    std::set<int> expected;
    for (const auto& [other, channel] : model.channels)
      if (other != id && channel.receiving) expected.insert(other);
    RC_ASSERT(reached == expected);
    RC_ASSERT(result.othersReached == static_cast<int>(expected.size()));
  }
  void show(std::ostream& os) const override { os << "Post " << id; }
};

// The channel takes what waits for it, reads each text, answers the others' notices, and
// takes the answers to its own.
struct Receive : Command {
  int id;
  bool taken;
  explicit Receive(const Model& model) : id(AnyChannel(model)), taken(*rc::gen::arbitrary<bool>()) {}
  void checkPreconditions(const Model& model) const override {
    RC_PRE(model.channels.contains(id));
    std::map<int, std::size_t> answersTo;
    for (const Owed& owed : model.channels.at(id).notices)
      if (owed.poster != id) ++answersTo[owed.poster];
    for (const auto& [poster, count] : answersTo) {
      const auto found = model.channels.find(poster);
      if (found != model.channels.end())
        RC_PRE(found->second.notices.size() + found->second.answers.size() + count <= kMostQueued);
    }
  }
  void apply(Model& model) const override {
    Model::Channel& channel = model.channels[id];
    for (const Owed& owed : channel.notices) {
      if (owed.poster == id) continue;
      const auto poster = model.channels.find(owed.poster);
      if (poster != model.channels.end() && poster->second.receiving)
        poster->second.answers.insert({id, owed.post, taken});
    }
    model.channels[id].notices.clear();
    model.channels[id].answers.clear();
  }
  void run(const Model& model, Sut& sut) const override {
    InstanceChannel& channel = *sut.channels.at(id);
    const Model::Channel& owed = model.channels.at(id);
    std::multiset<Owed> received;
    while (const auto notice = channel.NextNotice()) {
      const Owed got{sut.ModelIdOf(notice->senderId), notice->messageId};
      received.insert(got);
      // A later post may have replaced the text; the latest one reads as it was posted.
      if (got.post == model.posts) RC_ASSERT(channel.ReadText(255) == "text " + std::to_string(got.post));
      if (got.poster == id) continue;
      const auto poster = model.channels.find(got.poster);
      const bool posterReceives = poster != model.channels.end() && poster->second.receiving;
      RC_ASSERT(channel.Answer(taken) == posterReceives);
    }
    RC_ASSERT(received == owed.notices);
    std::multiset<OwedAnswer> answers;
    for (const InstanceAnswer& answer : channel.TakeAnswers())
      answers.insert({sut.ModelIdOf(answer.answererId), answer.messageId, answer.taken});
    RC_ASSERT(answers == owed.answers);
  }
  void show(std::ostream& os) const override { os << "Receive " << id << (taken ? " taking" : " refusing"); }
};

// The user's last session ends: the runtime folder goes, with what was in it.
struct RemoveRuntimeFolder : Command {
  void checkPreconditions(const Model& model) const override { RC_PRE(model.runtimePresent); }
  void apply(Model& model) const override { model.runtimePresent = false; }
  void run(const Model&, Sut& sut) const override { fs::remove_all(sut.runtimeBase); }
  void show(std::ostream& os) const override { os << "RemoveRuntimeFolder"; }
};

// A new session makes it again, empty.
struct MakeRuntimeFolder : Command {
  void checkPreconditions(const Model& model) const override { RC_PRE(!model.runtimePresent); }
  void apply(Model& model) const override { model.runtimePresent = true; }
  void run(const Model&, Sut& sut) const override { fs::create_directory(sut.runtimeBase); }
  void show(std::ostream& os) const override { os << "MakeRuntimeFolder"; }
};

RC_GTEST_PROP(InstanceChannelProperty, EveryReceivingChannelGetsEachPostOnceAndEachAnswerItsPoster, ()) {
  Model model;
  Sut sut;
  rc::state::check(model, sut,
                   rc::state::gen::execOneOfWithArgs<Open, Open, Close, StopReceiving, Post, Post, Receive, Receive,
                                                     RemoveRuntimeFolder, MakeRuntimeFolder>());
}

}  // namespace
}  // namespace ecr
