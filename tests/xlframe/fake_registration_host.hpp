// Kept only for tests/functions/test_entry_points.cpp until it moves to the stand-in host.
// A host stand-in for registration tests: installed as the process's callbacks, it records every
// call with its operands read back as plain values and answers registrations with identifiers.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "xlframe/xl_callbacks.hpp"
#include "xlframe/xl_oper.hpp"
#include "xlframe/xlcall.hpp"

namespace fakehost {

struct Value {
    DWORD type = xltypeMissing;  // without the memory bits
    double number = 0.0;
    std::string text;  // ASCII only: other characters read as '?'
    bool flag = false;

    bool operator==(const Value& other) const = default;
};

inline Value text(const std::string& s) {
    Value v;
    v.type = xltypeStr;
    v.text = s;
    return v;
}

inline Value number(double d) {
    Value v;
    v.type = xltypeNum;
    v.number = d;
    return v;
}

struct Call {
    int xlfn = 0;
    std::vector<Value> operands;
};

class Host {
   public:
    // Chooses the record generation of the version for the whole process, as opening does.
    explicit Host(int version) : version_(version) {
        current() = this;
        xlframe::XlfOper::SetExcel12(version >= 12);
        xlframe::callbacks::setMdCallBack12(&mdCallBack12);
        xlframe::callbacks::setExcel4v(&excel4v);
    }
    ~Host() {
        xlframe::callbacks::setMdCallBack12(nullptr);
        xlframe::callbacks::setExcel4v(nullptr);
        current() = nullptr;
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    int version() const { return version_; }

    // Registrations of this name are answered with the status (and no identifier).
    void reject(const std::string& registeredName, int status) { rejected_[registeredName] = status; }
    // Accepted registrations answer with a text instead of a number.
    void answerRegistrationWithText() { textAnswer_ = true; }

    const std::vector<Call>& calls() const { return calls_; }
    std::vector<Call> callsOf(int xlfn) const {
        std::vector<Call> selected;
        for (const Call& call : calls_)
            if (call.xlfn == xlfn) selected.push_back(call);
        return selected;
    }
    // The identifier the n-th accepted registration got (from 1000 on).
    static double idOf(int n) { return 1000.0 + n; }

   private:
    static Host*& current() {
        static Host* host = nullptr;
        return host;
    }

    static unsigned unit(char c) { return static_cast<unsigned char>(c); }
    static unsigned unit(char16_t c) { return c; }

    template <class Record>
    static Value read(const Record* record) {
        Value v;
        if (record == nullptr) return v;
        v.type = record->xltype & xltypeMask;
        switch (v.type) {
            case xltypeNum:
                v.number = record->val.num;
                break;
            case xltypeBool:
                v.flag = record->val.xbool != 0;
                break;
            case xltypeInt:
                v.number = record->val.w;
                break;
            case xltypeStr: {
                const auto* s = record->val.str;
                if (s == nullptr) break;
                const unsigned length = unit(s[0]);
                for (unsigned i = 1; i <= length; ++i) v.text += unit(s[i]) < 128 ? static_cast<char>(s[i]) : '?';
                break;
            }
            default:
                break;
        }
        return v;
    }

    template <class Record>
    int answer(int xlfn, int count, Record** operands, Record* result) {
        Call call;
        call.xlfn = xlfn;
        for (int i = 0; i < count; ++i) call.operands.push_back(read(operands[i]));
        calls_.push_back(call);
        if (xlfn == xlFree) return xlretSuccess;
        if (xlfn == xlfRegister) {
            const std::string name = call.operands.size() > 3 ? call.operands[3].text : std::string();
            const auto rejected = rejected_.find(name);
            if (rejected != rejected_.end()) return rejected->second;
            ++accepted_;
            if (result != nullptr) {
                if (textAnswer_) {
                    result->xltype = xltypeBool;  // not a number either, and nothing to release
                    result->val.xbool = 1;
                } else {
                    result->xltype = xltypeNum;
                    result->val.num = idOf(accepted_);
                }
            }
            return xlretSuccess;
        }
        if (xlfn == xlfSetName || xlfn == xlfUnregister) {
            if (result != nullptr) {
                result->xltype = xltypeBool;
                result->val.xbool = 1;
            }
            return xlretSuccess;
        }
        return xlretInvXlfn;
    }

    static int mdCallBack12(int xlfn, int count, xloper12* operands[], xloper12* result) {
        return current() != nullptr ? current()->answer(xlfn, count, operands, result) : xlretFailed;
    }
    static int excel4v(int xlfn, xloper* result, int count, xloper* operands[]) {
        return current() != nullptr ? current()->answer(xlfn, count, operands, result) : xlretFailed;
    }

    int version_;
    std::vector<Call> calls_;
    std::map<std::string, int> rejected_;
    bool textAnswer_ = false;
    int accepted_ = 0;
};

}  // namespace fakehost
