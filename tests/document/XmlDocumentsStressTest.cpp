// The XML model under load: nodes and documents moved between documents and threads, many
// threads reading and freeing at once, malformed text at every position, trees far larger
// than a page, and the node memory kept across many large documents. Run these under the
// address and thread sanitizers too.
#include "document/XmlDocuments.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <vector>

#include "document/XmlDocumentsPriv.h"
#include "platform/Exceptions.h"

using namespace document;

namespace {

void Dump(const TXmlNode* Node, std::string& Out) {
  Out += "{" + std::to_string(Node->Kind()) + "[" + Node->Name() + "][" + Node->Value() + "]";
  for (const auto& a : Node->Attributes()) Out += "(" + a + ")";
  for (const auto& c : Node->Nodes()) {
    if (c->Parent() != Node) Out += "!parent";
    Dump(c.get(), Out);
  }
  Out += "}";
}

std::string Tree(const TXmlDocument& Doc) {
  std::string out = Doc.Version() + "|" + Doc.Encoding() + "|" + Doc.Stylesheet() + "|";
  for (const auto& c : Doc.RootComments()) out += c + "|";
  Dump(Doc.Root(), out);
  return out;
}

std::string Reference(const std::string& Xml) {
  TXmlDocument doc;
  xmlpriv::ReferenceReadDocument(&doc, Xml);
  return Tree(doc);
}

// Nodes of a page: texts held in the strings themselves and on the heap, attributes, and
// now and then a comment or a wide parent (over 64 children).
std::string PageText(int Shapes, int Tag) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><!--page " + std::to_string(Tag) + "--><Page>";
  for (int i = 0; i < Shapes; ++i) {
    xml += "<Shape Index=\"" + std::to_string(i) + "\" Kind='r'><ClassName>TdtpRectangleShape</ClassName><Left>" +
           std::to_string(i * 3 + Tag) + "</Left><Name>Shape &amp; " + std::to_string(i) +
           " with a name longer than a string holds</Name>";
    if (i % 97 == 5) {
      xml += "<Points>";
      for (int p = 0; p < 70; ++p) xml += "<P>" + std::to_string(p) + "</P>";
      xml += "</Points><!-- points -->";
    }
    xml += "<Empty/></Shape>";
  }
  return xml + "</Page>";
}

int64_t CountNodes(const TXmlNode* Node) {
  int64_t n = 1;
  for (const auto& c : Node->Nodes()) n += CountNodes(c.get());
  return n;
}

}  // namespace

// A node moved into another document belongs to that document with everything below it: it
// writes typed values and binary data by that document's settings, and lives on safely when
// the document it came from is freed.
TEST(XmlStress, MovedNodesBelongToTheDocumentTheyJoin) {
  auto from = std::make_unique<TXmlDocument>("From");
  from->SetBinaryEncoding(xbeHex);
  from->SetWriteOnDefault(0);
  TXmlNode* shape = from->Root()->NodeNew("Shape");
  shape->NodeNew("Inner")->NodeNew("Deeper");
  shape->WriteInteger("Left", 5, 0);

  TXmlDocument to("To");  // Base64, writes defaults
  TXmlNode* moved = to.Root()->NodeAdd(from->Root()->NodeExtract(shape));
  ASSERT_EQ(moved, shape);
  from.reset();
  EXPECT_EQ(moved->Document(), &to);
  EXPECT_EQ(moved->NodeByName("Inner")->Document(), &to);
  EXPECT_EQ(moved->NodeByName("Inner")->NodeByName("Deeper")->Document(), &to);

  // Written by the settings of the document it is in now.
  moved->WriteInteger("Zero", 0, 0);
  EXPECT_NE(moved->NodeByName("Zero"), nullptr);
  const std::string bytes = "\x01\x02\xFFxyz";
  TXmlNode* deeper = moved->NodeByName("Inner")->NodeByName("Deeper");
  deeper->BufferWrite(bytes.data(), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(deeper->Value(), EncodeBase64(bytes.data(), static_cast<int32_t>(bytes.size())));
  EXPECT_EQ(deeper->NodeNew("Leaf")->Document(), &to);
  std::string copy;
  {
    TXmlNode assigned(&to);
    assigned.Assign(moved);
    copy = assigned.WriteToString();
  }
  EXPECT_EQ(copy, moved->WriteToString());

  TXmlDocument read;
  read.ReadFromString(to.WriteToString());
  const TXmlNode* back = read.Root()->NodeByName("Shape")->NodeByName("Inner")->NodeByName("Deeper");
  ASSERT_NE(back, nullptr);
  char got[16] = {};
  ASSERT_EQ(back->BufferRead(got, sizeof got), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(std::string(got, bytes.size()), bytes);

  // A node made without a document, moved in, and moved on to a third document.
  auto loose = TXmlNode::CreateName(nullptr, "Loose");
  loose->NodeNew("Child");
  TXmlNode* l = to.Root()->NodeAdd(std::move(loose));
  EXPECT_EQ(l->NodeByName("Child")->Document(), &to);
  TXmlDocument third("Third");
  third.Root()->NodeAdd(to.Root()->NodeExtract(l));
  EXPECT_EQ(l->Document(), &third);
  EXPECT_EQ(l->NodeByName("Child")->Document(), &third);
}

// A parse that fails anywhere (text cut short or broken at every position, a handler that
// raises at any node, a parse started from inside a handler) leaves no node behind, and the
// nodes and buffers kept for the thread serve the next documents whole.
TEST(XmlStress, FailedParsesLeaveTheKeptNodesWhole) {
  const std::string good =
      "<?xml version=\"1.0\"?><?xml-stylesheet href=\"s.xsl\"?><!--c--><Root a=\"1\" b = '2'>text of the root, "
      "longer than a string holds<A><B x=\"y\">value</B><![CDATA[<raw>]]><C/><!DOCTYPE d><?pi x?></A>"
      "<Wide>" +
      [] {
        std::string s;
        for (int i = 0; i < 70; ++i) s += "<I>" + std::to_string(i) + " and a longer text on the heap</I>";
        return s;
      }() +
      "</Wide><D>\r\n  <E>1</E>\r\n</D></Root>";
  const std::string expected = Reference(good);
  const int64_t live = TXmlNode::LiveCount();
  auto check = [&](const std::string& Text, const std::string& What) {
    for (int mode = 0; mode < 3; ++mode) {
      try {
        if (mode == 2) {
          TXmlNode node(nullptr);
          node.ReadFromString(Text);
        } else {
          TXmlDocument doc;
          // Node events put children into their parent at once; without them they wait on a
          // stack shared by the thread.
          if (mode == 1) doc.OnNodeNew = [](platform::TObject*, TXmlNode*) {};
          doc.ReadFromString(Text);
        }
      } catch (const platform::Exception&) {
      }
      ASSERT_EQ(TXmlNode::LiveCount(), live) << What << " mode " << mode;
    }
  };
  const char breaks[] = {'<', '>', '/', '"', '\'', '=', ' ', '!', '?', 'x'};
  for (size_t i = 0; i <= good.size(); ++i) {
    check(good.substr(0, i), "cut at " + std::to_string(i));
    if (i == good.size()) break;
    for (char c : breaks) {
      std::string broken = good;
      broken[i] = c;
      check(broken, "changed at " + std::to_string(i));
      broken = good;
      broken.insert(i, 1, c);
      check(broken, "inserted at " + std::to_string(i));
    }
    if (i % 64 == 0) {
      TXmlDocument doc;
      doc.ReadFromString(good);
      ASSERT_EQ(Tree(doc), expected) << i;
    }
  }
  // Handlers that raise at the k-th node, or read another document first.
  int calls = 0;
  for (int k = 1; k < 100; ++k) {
    for (int which = 0; which < 3; ++which) {
      {
        TXmlDocument doc;
        int n = 0;
        auto raise = [&](platform::TObject*, TXmlNode*) {
          if (++n == k) throw platform::EFilerError("stop");
        };
        if (which == 0) doc.OnNodeNew = raise;
        if (which == 1) doc.OnNodeLoaded = raise;
        if (which == 2)
          doc.OnProgress = [&](platform::TObject*, int32_t) {
            if (++n % 7 == 0) {
              TXmlDocument inner;
              try {
                inner.ReadFromString(good.substr(0, good.size() - static_cast<size_t>(n)));
              } catch (const platform::Exception&) {
              }
            }
            if (n == k) throw platform::EFilerError("stop");
          };
        try {
          doc.ReadFromString(good);
          EXPECT_EQ(Tree(doc), expected);
        } catch (const platform::EFilerError& e) {
          EXPECT_EQ(e.Message, "stop");
          ++calls;
        }
      }
      ASSERT_EQ(TXmlNode::LiveCount(), live) << k << " " << which;
    }
  }
  EXPECT_GT(calls, 200);
  TXmlDocument doc;
  doc.ReadFromString(good);
  EXPECT_EQ(Tree(doc), expected);
}

// Many threads read, change, hand on and free documents at once; threads end while the
// documents they read live on and are freed elsewhere; nodes move between documents of
// different threads. Every tree stays exactly as read.
TEST(XmlStress, ThreadsReadHandOnAndFreeDocumentsAtOnce) {
  std::vector<std::string> texts, expected;
  for (int tag = 0; tag < 5; ++tag) {
    texts.push_back(PageText(40 + 60 * tag, tag));
    expected.push_back(Reference(texts.back()));
  }
  struct TItem {
    std::unique_ptr<TXmlDocument> Doc;
    size_t Text;
  };
  std::mutex lock;
  std::condition_variable ready;
  std::deque<TItem> queue;
  std::atomic<int> mismatches = 0;
  std::vector<TItem> survivors;  // documents whose threads have ended
#if defined(KD_SANITIZED)
  const int kRounds = 3;
#else
  const int kRounds = 6;
#endif
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int> producing = 4;
    std::vector<std::thread> threads;
    for (int p = 0; p < 4; ++p) {
      threads.emplace_back([&, p] {
        std::mt19937 rng(static_cast<unsigned>(round * 10 + p));
        for (int i = 0; i < 30; ++i) {
          const size_t t = rng() % texts.size();
          auto doc = std::make_unique<TXmlDocument>();
          doc->ReadFromString(texts[t]);
          if (Tree(*doc) != expected[t]) ++mismatches;
          std::lock_guard<std::mutex> g(lock);
          if (i % 10 == 9)
            survivors.push_back({std::move(doc), t});
          else
            queue.push_back({std::move(doc), t});
          ready.notify_one();
        }
        --producing;
        ready.notify_all();
      });
    }
    for (int c = 0; c < 3; ++c) {
      threads.emplace_back([&, c] {
        TXmlDocument collected("Collected");
        int moved = 0;
        for (;;) {
          TItem item;
          {
            std::unique_lock<std::mutex> g(lock);
            ready.wait(g, [&] { return !queue.empty() || producing == 0; });
            if (queue.empty()) break;
            item = std::move(queue.front());
            queue.pop_front();
          }
          if (Tree(*item.Doc) != expected[item.Text]) ++mismatches;
          // Now and then a shape moves into this thread's own document before the rest is freed.
          TXmlNode* root = item.Doc->Root();
          if ((moved + c) % 3 == 0 && root->GetNodeCount() > 2) {
            collected.Root()->NodeAdd(root->NodeExtract(root->GetNode(1)));
            ++moved;
          }
          item.Doc.reset();
        }
        // Read back what was collected: a tree of nodes made on other threads.
        TXmlDocument again;
        again.ReadFromString(collected.WriteToString());
        if (again.WriteToString() != collected.WriteToString()) ++mismatches;
      });
    }
    for (auto& t : threads) t.join();
    // The documents of the ended threads, checked and freed on this one (half of them) or on
    // threads of the next round.
    for (size_t i = 0; i < survivors.size();) {
      if (Tree(*survivors[i].Doc) != expected[survivors[i].Text]) ++mismatches;
      if (i % 2 == 0) {
        survivors.erase(survivors.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    std::thread([&] {
      for (size_t i = 0; i < survivors.size(); i += 3) survivors[i].Doc.reset();
    }).join();
    std::erase_if(survivors, [](const TItem& s) { return !s.Doc; });
  }
  EXPECT_EQ(mismatches.load(), 0);
}

// Trees far larger than the node region, over many segments: read on one thread, freed on
// another while a third reads, again and again. The segments taken stay bounded, and every
// tree reads back exactly.
TEST(XmlStress, TreesOverManySegmentsMadeAndFreedOnDifferentThreads) {
#if defined(KD_SANITIZED)
  const int kShapes = 12000, kRounds = 4;
#else
  const int kShapes = 30000, kRounds = 8;
#endif
  const std::string xml = PageText(kShapes, 3);
  const std::string expected = Reference(xml);
  std::unique_ptr<TXmlDocument> pending;
  size_t first = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::unique_ptr<TXmlDocument> made;
    std::thread reader([&] {
      made = std::make_unique<TXmlDocument>();
      made->ReadFromString(xml);
    });
    std::thread freer([&] {
      if (pending) {
        EXPECT_EQ(Tree(*pending), expected);
        pending.reset();
      }
    });
    reader.join();
    freer.join();
    EXPECT_EQ(CountNodes(made->Root()), CountNodes(made->Root()));
    pending = std::move(made);
    if (round == 1) first = xmlpriv::SegmentsTaken();
    if (round > 1) {
      ASSERT_LE(xmlpriv::SegmentsTaken(), first + first / 2 + 4) << "round " << round;
    }
  }
  EXPECT_EQ(Tree(*pending), expected);
}

// Large documents read and freed one after another, a few shapes of each kept: the blocks
// back in a segment a kept node still holds serve again, so the memory taken for nodes stays
// bounded by what lives, not by the documents read.
TEST(XmlStress, KeptNodesDoNotHoldTheirSegmentsFromReuse) {
#if defined(KD_SANITIZED)
  const int kRounds = 12, kShapes = 12000;
#else
  const int kRounds = 40, kShapes = 20000;
#endif
  TXmlDocument kept("Kept");
  std::string expected;
  size_t taken = 0;
  for (int round = 0; round < kRounds; ++round) {
    {
      TXmlDocument doc;
      doc.ReadFromString(PageText(kShapes + round, round));
      TXmlNode* root = doc.Root();
      for (int i = 0; i < root->GetNodeCount(); i += 2000) {
        expected += root->GetNode(i)->WriteToString();
        kept.Root()->NodeAdd(root->NodeExtract(root->GetNode(i)));
      }
    }
    if (round == 2) taken = xmlpriv::SegmentsTaken();
  }
  EXPECT_LE(xmlpriv::SegmentsTaken(), taken + 4);
  std::string now;
  for (const auto& n : kept.Root()->Nodes()) now += n->WriteToString();
  EXPECT_EQ(now, expected);
}

// The same from several threads at once: blocks back in held segments pass between threads
// while they read, and what each thread kept stays whole after the threads end.
TEST(XmlStress, ThreadsKeepingNodesShareTheSegmentsHeld) {
#if defined(KD_SANITIZED)
  const int kRounds = 3, kShapes = 6000;
#else
  const int kRounds = 8, kShapes = 12000;
#endif
  std::vector<std::string> texts;
  for (int t = 0; t < 4; ++t) texts.push_back(PageText(kShapes + 100 * t, t));
  std::vector<std::unique_ptr<TXmlDocument>> kept(texts.size());
  std::vector<std::string> expected(texts.size());
  std::vector<std::thread> threads;
  const size_t before = xmlpriv::SegmentsTaken();
  for (size_t t = 0; t < texts.size(); ++t) {
    threads.emplace_back([&, t] {
      kept[t] = std::make_unique<TXmlDocument>("Kept");
      for (int round = 0; round < kRounds; ++round) {
        auto doc = std::make_unique<TXmlDocument>();
        doc->ReadFromString(texts[(t + static_cast<size_t>(round)) % texts.size()]);
        TXmlNode* root = doc->Root();
        for (int i = round; i < root->GetNodeCount(); i += 700) {
          expected[t] += root->GetNode(i)->WriteToString();
          kept[t]->Root()->NodeAdd(root->NodeExtract(root->GetNode(i)));
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (size_t t = 0; t < texts.size(); ++t) {
    std::string now;
    for (const auto& n : kept[t]->Root()->Nodes()) now += n->WriteToString();
    EXPECT_EQ(now, expected[t]) << t;
  }
  // At most some documents' worth at a time, not one per round read.
  const size_t perDocument = static_cast<size_t>(kShapes) * 7 * sizeof(TXmlNode) / xmlpriv::kSegmentSize + 1;
  EXPECT_LE(xmlpriv::SegmentsTaken(), before + 2 * texts.size() * perDocument + 8);
  kept.clear();
}

// Without the address range for node segments (a limit on the process's address space), node
// blocks past the region come from the general allocator: documents far larger than the region
// read, move between threads and free as always. Checked in a fresh process, before any
// segment exists; not under the sanitizers, whose own memory needs the address space.
#if !defined(KD_SANITIZED)
TEST(XmlStress, WithoutTheSegmentRangeNodesComeFromTheAllocator) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto run = [] {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (rlim_t(768) << 20);
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0) std::exit(2);
    const std::string xml = PageText(30000, 1);
    const std::string expected = Reference(xml);
    std::unique_ptr<TXmlDocument> doc;
    for (int round = 0; round < 4; ++round) {
      std::thread([&] {
        doc.reset();
        doc = std::make_unique<TXmlDocument>();
        doc->ReadFromString(xml);
      }).join();
      if (Tree(*doc) != expected) std::exit(3);
      if (xmlpriv::InSegments(doc->Root()->GetNode(29000))) std::exit(4);
    }
    doc.reset();
    TXmlDocument again;
    again.ReadFromString(xml);
    std::exit(Tree(again) == expected ? 0 : 5);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}
#endif

// Trees built node by node can be nested far deeper than the reader allows: freeing them, as a
// document, as a part taken out, or on another thread, stays within the thread's stack.
TEST(XmlStress, TreesOfAnyDepthAreFreed) {
  const int64_t live = TXmlNode::LiveCount();
  auto chain = [](TXmlNode* Node, int Depth) {
    for (int i = 0; i < Depth; ++i) {
      Node = Node->NodeNew(i % 2 ? "Odd" : "Even");
      if (i % 1000 == 0) Node->SetValueAsString("a value longer than a string holds in itself");
      if (i % 5000 == 0)
        for (int k = 0; k < 70; ++k) Node->NodeNew("Wide");  // freed through the held children
    }
    return Node;
  };
  {
    TXmlDocument doc("Root");
    TXmlNode* half = chain(doc.Root(), 100000);
    chain(half, 100000);
    // A deep part taken out and freed on its own, then the rest with the document.
    std::unique_ptr<TXmlNode> part = doc.Root()->NodeExtract(doc.Root()->GetNode(0));
    part.reset();
    chain(doc.Root(), 200000);
  }
  EXPECT_EQ(TXmlNode::LiveCount(), live);
  auto doc = std::make_unique<TXmlDocument>("Root");
  chain(doc->Root(), 300000);
  std::thread([&] { doc.reset(); }).join();
  // A document read afterwards is whole.
  const std::string xml = PageText(50, 2);
  TXmlDocument again;
  again.ReadFromString(xml);
  EXPECT_EQ(Tree(again), Reference(xml));
}

// Under the address sanitizer the blocks kept for reuse stay poisoned: a use of a freed node
// is reported wherever its block went (the thread's cache, or back to its segment).
#if KD_XML_ASAN
TEST(XmlStress, UsingAFreedNodeIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int which = 0; which < 3; ++which) {
    auto run = [which] {
      auto doc = std::make_unique<TXmlDocument>();
      doc->ReadFromString(PageText(which == 0 ? 10 : 20000, 0));
      TXmlNode* root = doc->Root();
      // The first shape's block goes to the cache; one in the middle of a large page goes back
      // to its segment past the cache's bound (the last shapes are freed first and fill it),
      // and with a node of that segment kept, on to the segment's free chain.
      const int middle = root->GetNodeCount() / 2;
      TXmlNode* freed = root->GetNode(which == 0 ? 0 : middle);
      std::unique_ptr<TXmlNode> keep;
      if (which == 2) keep = root->NodeExtract(root->GetNode(middle + 1));
      doc.reset();
      volatile size_t n = freed->Name().size();
      (void)n;
      std::exit(0);
    };
    EXPECT_DEATH(run(), "use-after-poison|use-after-free") << which;
  }
}
#endif
