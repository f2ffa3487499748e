#pragma once
// Fills an HTML template with values from a tree of statistics objects. Text
// is copied as it stands; "%name%" is replaced by the value `name` of the
// innermost open object that has one; "<!--GEN.name-->" ... "<!--GEN.end-->"
// opens the sub-object `name` of the current object, or repeats its body once
// per element of the list `name`; "%%" stays "%%". Nothing is escaped: the
// objects supply HTML.
#include <istream>
#include <list>
#include <memory>
#include <ostream>
#include <string>

namespace Stat
{

class Value
{
public:
    Value() = default;
    explicit Value(std::string text) : mValid(true), mText(std::move(text)) {}
    explicit operator bool() const { return mValid; }
    std::string const& text() const { return mText; }

private:
    bool mValid = false;
    std::string mText;
};

class Object;

class IteratorBase
{
public:
    virtual ~IteratorBase() = default;
    virtual bool valid() const = 0;
    // Steps to the next element; false when no step was made.
    virtual bool next() = 0;
    virtual Object& current() const = 0;
};

class Object
{
public:
    virtual ~Object() = default;
    // An invalid value: the object has no value of that name.
    virtual Value statistics_value(std::string const& name) const = 0;
    // Not owned by the caller; null when there is none.
    virtual Object* statistics_object(std::string const& name) const = 0;
    // Empty when the name is no list.
    virtual std::unique_ptr<IteratorBase> statistics_iterator(std::string const& name) const = 0;
};

namespace Html
{

bool generateV1(Object& root, std::ostream& out, std::istream& in);

class GeneratorV1
{
public:
    struct Token {
        enum Type { section = 0, value = 1, end_of_input = 2 };
        Type type = end_of_input;
        std::string text;
    };

    GeneratorV1(Object& root, std::ostream& out, std::istream& in);

    bool generate();

private:
    using State = void (GeneratorV1::*)(int c);

    bool generate_body();
    Token parse();
    void sub_object(std::string const& name);
    void sub_object(Object& o);
    void ignore_object();
    void put(char c);
    void put(std::string const& s);
    void next_input(State s);
    void next_output(State s);
    void next_state(State input, State output);

    void initial(int c);
    void section_open(int c);
    void section_body(int c);
    void section_comment1(int c);
    void section_comment2(int c);
    void section_obj_begin1(int c);
    void section_obj_begin2(int c);
    void section_obj_begin3(int c);
    void section_obj_begin4(int c);
    void section_obj_name(int c);
    void section_obj_name_end1(int c);
    void section_obj_name_end2(int c);
    void value_open(int c);
    void value_body(int c);
    void delayed_initial(int c);
    void mismatch();
    void pass(int c);
    void capture(int c);

    std::ostream& mOut;
    std::istream& mIn;
    std::list<Object*> mStack;
    Object* mCurrent;
    int mIgnore = 0;
    State mInput = &GeneratorV1::initial;
    State mOutput = &GeneratorV1::pass;
    Token mToken;
    bool mComplete = false;
    std::string mCapture;
};

} // namespace Html
} // namespace Stat
