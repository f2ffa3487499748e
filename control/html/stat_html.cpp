#include "control/html/stat_html.hpp"

namespace Stat
{
namespace Html
{

namespace
{

// Stands for a section that does not exist: its body is read and dropped.
class Nothing : public Object
{
public:
    Value statistics_value(std::string const&) const override { return Value(); }
    Object* statistics_object(std::string const&) const override { return nullptr; }
    std::unique_ptr<IteratorBase> statistics_iterator(std::string const&) const override { return nullptr; }
};

} // namespace

bool generateV1(Object& root, std::ostream& out, std::istream& in)
{
    GeneratorV1 g(root, out, in);
    return g.generate();
}

GeneratorV1::GeneratorV1(Object& root, std::ostream& out, std::istream& in)
    : mOut(out), mIn(in), mStack{&root}, mCurrent(&root)
{
}

bool GeneratorV1::generate()
{
    mIgnore = 0;
    return generate_body();
}

void GeneratorV1::put(char c)
{
    if (mIgnore == 0)
        mOut.put(c);
}

void GeneratorV1::put(std::string const& s)
{
    if (mIgnore == 0)
        mOut << s;
}

void GeneratorV1::next_input(State s)
{
    mInput = s;
}

void GeneratorV1::next_output(State s)
{
    if (mOutput == s)
        return;
    mOutput = s;
    if (s == &GeneratorV1::capture)
        mCapture.clear();
}

void GeneratorV1::next_state(State input, State output)
{
    next_input(input);
    next_output(output);
}

GeneratorV1::Token GeneratorV1::parse()
{
    mInput = &GeneratorV1::initial;
    mOutput = &GeneratorV1::pass;
    mToken = Token();
    mComplete = false;
    mCapture.clear();
    while (!mComplete) {
        // get() as an int: a 0xFF byte of the template is text, and only the
        // stream's own end stops the reading.
        const int c = mIn.get();
        if (c == std::char_traits<char>::eof())
            return Token();
        (this->*mInput)(c);
        (this->*mOutput)(c);
    }
    return mToken;
}

void GeneratorV1::pass(int c)
{
    put(static_cast<char>(c));
}

void GeneratorV1::capture(int c)
{
    mCapture.push_back(static_cast<char>(c));
}

void GeneratorV1::mismatch()
{
    // The prefix was no marker after all: it is ordinary text inside a tag.
    put(mCapture);
    next_state(&GeneratorV1::section_body, &GeneratorV1::pass);
}

void GeneratorV1::initial(int c)
{
    if (c == '<')
        next_state(&GeneratorV1::section_open, &GeneratorV1::capture);
    else if (c == '%')
        next_state(&GeneratorV1::value_open, &GeneratorV1::capture);
}

void GeneratorV1::section_open(int c)
{
    if (c == '!')
        next_input(&GeneratorV1::section_comment1);
    else
        mismatch();
}

void GeneratorV1::section_body(int c)
{
    if (c == '>')
        next_input(&GeneratorV1::initial);
}

void GeneratorV1::section_comment1(int c)
{
    if (c == '-')
        next_input(&GeneratorV1::section_comment2);
    else
        mismatch();
}

void GeneratorV1::section_comment2(int c)
{
    if (c == '-') {
        mToken.type = Token::section;
        mToken.text.clear();
        next_input(&GeneratorV1::section_obj_begin1);
    } else {
        mismatch();
    }
}

void GeneratorV1::section_obj_begin1(int c)
{
    if (c == 'G')
        next_input(&GeneratorV1::section_obj_begin2);
    else
        mismatch();
}

void GeneratorV1::section_obj_begin2(int c)
{
    if (c == 'E')
        next_input(&GeneratorV1::section_obj_begin3);
    else
        mismatch();
}

void GeneratorV1::section_obj_begin3(int c)
{
    if (c == 'N')
        next_input(&GeneratorV1::section_obj_begin4);
    else
        mismatch();
}

void GeneratorV1::section_obj_begin4(int c)
{
    if (c == '.')
        next_input(&GeneratorV1::section_obj_name);
    else
        mismatch();
}

void GeneratorV1::section_obj_name(int c)
{
    if (c == '-')
        next_input(&GeneratorV1::section_obj_name_end1);
    else
        mToken.text.push_back(static_cast<char>(c));
}

void GeneratorV1::section_obj_name_end1(int c)
{
    if (c == '-') {
        next_input(&GeneratorV1::section_obj_name_end2);
    } else {
        mToken.text.push_back('-');
        mToken.text.push_back(static_cast<char>(c));
        next_input(&GeneratorV1::section_obj_name);
    }
}

void GeneratorV1::section_obj_name_end2(int c)
{
    if (c == '>') {
        mComplete = true;
        next_input(&GeneratorV1::delayed_initial);
    }
}

void GeneratorV1::value_open(int c)
{
    if (c == '%') {
        put('%');
        next_state(&GeneratorV1::initial, &GeneratorV1::pass);
    } else {
        mToken.type = Token::value;
        mToken.text.assign(1, static_cast<char>(c));
        next_input(&GeneratorV1::value_body);
    }
}

void GeneratorV1::value_body(int c)
{
    if (c == '%') {
        mComplete = true;
        next_input(&GeneratorV1::delayed_initial);
    } else {
        mToken.text.push_back(static_cast<char>(c));
    }
}

void GeneratorV1::delayed_initial(int c)
{
    next_state(&GeneratorV1::initial, &GeneratorV1::pass);
    initial(c);
}

bool GeneratorV1::generate_body()
{
    for (;;) {
        const Token token = parse();
        if (token.type == Token::end_of_input)
            return true;
        if (token.type == Token::value) {
            Value found;
            for (auto o = mStack.rbegin(); o != mStack.rend() && !found; ++o)
                found = (*o)->statistics_value(token.text);
            put(found ? found.text() : mCapture);
            continue;
        }
        if (token.text == "end")
            return true;
        std::unique_ptr<IteratorBase> list = mCurrent->statistics_iterator(token.text);
        if (!list) {
            sub_object(token.text);
        } else if (!list->valid()) {
            ignore_object();
        } else {
            mIn.clear();
            const std::istream::pos_type body = mIn.tellg();
            sub_object(list->current());
            if (!list->next())
                continue;
            // An input that cannot be positioned cannot repeat a body: the
            // later elements are left out rather than reading on into
            // whatever follows the section.
            while (body != std::istream::pos_type(-1) && list->valid()) {
                mIn.clear();
                if (!mIn.seekg(body))
                    break;
                sub_object(list->current());
                list->next();
            }
        }
    }
}

void GeneratorV1::sub_object(std::string const& name)
{
    if (Object* o = mCurrent->statistics_object(name))
        sub_object(*o);
    else
        ignore_object();
}

void GeneratorV1::sub_object(Object& o)
{
    mStack.push_back(&o);
    mCurrent = &o;
    generate_body();
    mStack.pop_back();
    mCurrent = mStack.back();
}

void GeneratorV1::ignore_object()
{
    Nothing nothing;
    ++mIgnore;
    sub_object(nothing);
    --mIgnore;
}

} // namespace Html
} // namespace Stat
