// Registration of the worksheet functions with the host: the static records every function
// declares, the registry that collects them, and the descriptors that speak to the host.
//
//   static const char* const arguments[][3] = {{"scores", " Vector ... ", "XLF_OPER"}, ...};
//   static xlframe::XLRegistration::RegistrationRecord record(
//       "xlrocCurveIndividual", "Korvanth.Tavirune.rocCurveIndividual", " Computes ... ",
//       "Korvanth Tavirune", arguments, 5, false, true, "", "", false, false, false);
//
// xlAutoOpen runs ExcelFunctionRegistrationRegistry::RegisterAll through the registration hooks.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace xlframe::XLRegistration {

// What a registration needs to know about the host; taken from XlfExcel while the add-in opens.
struct HostContext {
    int version = 0;
    std::string libraryPath;
    std::string helpFile;                                     // empty when there is none
    std::function<std::string(const std::string&)> typeCode;  // symbolic code -> host code
};

// The context of the running host (XlfExcel::Instance()).
HostContext CurrentHost();

// ---- The texts of one registration ---------------------------------------------------------

struct FunctionFlags {
    bool isVolatile = false;
    bool threadSafe = false;
    bool asynchronous = false;
    bool macroSheetEquivalent = false;
    bool clusterSafe = false;
};

// Return code (">" for an asynchronous function from version 14), the argument codes, then the
// suffixes X ! $ & # for the conditions that hold. All codes are host codes already.
std::string TypeText(const std::string& returnCode, const std::vector<std::string>& argumentCodes, int version,
                     const FunctionFlags& flags);

// The names joined by ", "; "Too many arguments for Function Wizard" when that exceeds 255.
std::string ArgumentText(const std::vector<std::string>& names);

// "<help file>!<index>", or empty without a help file.
std::string HelpTopic(const std::string& helpFile, std::size_t index);

// The argument help texts handed to the host: at most 20 before version 12, 245 from 12 on; the
// last one handed over gets ". " appended (the host cuts the end of the last one).
std::vector<std::string> ArgumentHelpTexts(const std::vector<std::string>& helpTexts, int version);

// The largest number of argument help texts one registration call can carry.
std::size_t MaxArgumentHelpTexts(int version);

// ---- Descriptors ---------------------------------------------------------------------------

class XlfArgDesc {
   public:
    // Warns on the diagnostic stream when the name has 19 or more characters.
    XlfArgDesc(std::string name, std::string help, std::string type);

    const std::string& GetName() const { return name_; }
    const std::string& GetComment() const { return help_; }
    const std::string& GetType() const { return type_; }

   private:
    std::string name_;
    std::string help_;
    std::string type_;
};

using XlfArgDescList = std::vector<XlfArgDesc>;

class XlfAbstractCmdDesc {
   public:
    XlfAbstractCmdDesc(std::string entryPoint, std::string name, std::string description);
    virtual ~XlfAbstractCmdDesc() = default;

    // Registers with the help topic for this index; a rejected registration is reported on the
    // diagnostic stream and its status returned. Throws "Could not get library name" when the
    // host gave no library path.
    int Register(std::size_t index, const HostContext& host);
    // Nothing when it was never registered.
    virtual void Unregister() = 0;
    // Writes a help page for the entry.
    virtual void GenerateDoc(std::ostream& out) const = 0;

    const std::string& GetEntryPoint() const { return entryPoint_; }
    const std::string& GetName() const { return name_; }
    const std::string& GetDescription() const { return description_; }

    XlfAbstractCmdDesc(const XlfAbstractCmdDesc&) = delete;
    XlfAbstractCmdDesc& operator=(const XlfAbstractCmdDesc&) = delete;

   protected:
    virtual int DoRegister(const HostContext& host, const std::string& libraryPath, const std::string& helpTopic) = 0;

   private:
    std::string entryPoint_;
    std::string name_;
    std::string description_;
};

class XlfFuncDesc : public XlfAbstractCmdDesc {
   public:
    enum RecalcPolicy { NotVolatile, Volatile };

    XlfFuncDesc(std::string entryPoint, std::string name, std::string description, std::string category,
                RecalcPolicy recalcPolicy, bool threadSafe, std::string returnTypeCode, std::string helpId,
                bool asynchronous, bool macroSheetEquivalent, bool clusterSafe);

    void SetArguments(XlfArgDescList arguments);
    const XlfArgDescList& GetArguments() const { return impl_->arguments; }
    const std::string& GetCategory() const { return impl_->category; }
    const std::string& GetHelpId() const { return helpId_; }
    const std::string& GetReturnTypeCode() const { return returnTypeCode_; }
    FunctionFlags GetFlags() const;

    // -1.0 until the host accepted a registration.
    double GetRegisterId() const { return registerId_; }

    // The three texts of the registration call for this host.
    std::string TypeText(const HostContext& host) const;
    std::string ArgumentText() const;
    std::string ProcedureText(const HostContext& host) const;

    void Unregister() override;
    void GenerateDoc(std::ostream& out) const override;

   protected:
    int DoRegister(const HostContext& host, const std::string& libraryPath, const std::string& helpTopic) override;

   private:
    struct Impl {
        RecalcPolicy recalcPolicy = NotVolatile;
        std::string category;
        XlfArgDescList arguments;
        bool threadSafe = false;
        bool asynchronous = false;
        bool macroSheetEquivalent = false;
        bool clusterSafe = false;
    };

    std::string helpId_;
    std::string returnTypeCode_;
    std::shared_ptr<Impl> impl_;
    double registerId_ = -1.0;
};

// Commands: this add-in defines none, so the descriptor only carries its texts.
class XlfCmdDesc : public XlfAbstractCmdDesc {
   public:
    XlfCmdDesc(std::string entryPoint, std::string name, std::string description);

    void Unregister() override;
    void GenerateDoc(std::ostream& out) const override;
    double GetRegisterId() const { return registerId_; }

   protected:
    int DoRegister(const HostContext& host, const std::string& libraryPath, const std::string& helpTopic) override;

   private:
    double registerId_ = -1.0;
};

// ---- Records and the registry --------------------------------------------------------------

class RegistrationRecord {
   public:
    // `arguments` holds `argumentCount` rows of (name, help text, type code); it may be null when
    // the count is 0. Adds the record to the registry.
    RegistrationRecord(const char* entryPoint, const char* registeredName, const char* description,
                       const char* category, const char* const (*arguments)[3], int argumentCount, bool isVolatile,
                       bool threadSafe, const char* returnTypeCode, const char* helpId, bool asynchronous,
                       bool macroSheetEquivalent, bool clusterSafe);

    // A new descriptor holding this record's texts and flags.
    std::shared_ptr<XlfFuncDesc> CreateFuncDesc() const;

    const std::string& GetEntryPoint() const { return entryPoint_; }
    const std::string& GetRegisteredName() const { return registeredName_; }
    const std::string& GetDescription() const { return description_; }
    const std::string& GetCategory() const { return category_; }
    int GetNumberOfArguments() const { return static_cast<int>(argumentNames_.size()); }
    const std::vector<std::string>& GetArgumentNames() const { return argumentNames_; }
    const std::vector<std::string>& GetArgumentHelps() const { return argumentHelps_; }
    const std::vector<std::string>& GetArgumentTypes() const { return argumentTypes_; }
    bool IsVolatile() const { return isVolatile_; }
    bool IsThreadSafe() const { return threadSafe_; }
    const std::string& GetReturnTypeCode() const { return returnTypeCode_; }
    const std::string& GetHelpId() const { return helpId_; }
    bool IsAsynchronous() const { return asynchronous_; }
    bool IsMacroSheetEquivalent() const { return macroSheetEquivalent_; }
    bool IsClusterSafe() const { return clusterSafe_; }

   private:
    std::string entryPoint_;
    std::string registeredName_;
    std::string description_;
    std::string category_;
    std::vector<std::string> argumentNames_;
    std::vector<std::string> argumentHelps_;
    std::vector<std::string> argumentTypes_;
    bool isVolatile_;
    bool threadSafe_;
    std::string returnTypeCode_;
    std::string helpId_;
    bool asynchronous_;
    bool macroSheetEquivalent_;
    bool clusterSafe_;
};

class ExcelFunctionRegistrationRegistry {
   public:
    using FunctionMap = std::map<std::string, std::shared_ptr<XlfFuncDesc>>;
    using CommandMap = std::map<std::string, std::shared_ptr<XlfCmdDesc>>;

    // Keeps the record; a later record of the same registered name replaces it.
    void AddFunction(const RegistrationRecord& record);
    void AddCommand(std::shared_ptr<XlfCmdDesc> command);

    // Builds a fresh descriptor for every record (replacing those of an earlier load by name),
    // then registers the functions in byte order of their names and then the commands, numbered
    // from 1 on for their help topics.
    void RegisterAll(const HostContext& host);
    void RegisterAll();  // with CurrentHost()
    void UnregisterAll();

    // Copies of the maps as they stand (for inspection).
    FunctionMap Functions() const;
    CommandMap Commands() const;
    std::vector<std::string> RecordNames() const;
    std::vector<RegistrationRecord> Records() const;  // in byte order of their names

   private:
    mutable std::recursive_mutex mutex_;
    std::map<std::string, RegistrationRecord> records_;
    FunctionMap functions_;
    CommandMap commands_;
};

ExcelFunctionRegistrationRegistry& Registry();

}  // namespace xlframe::XLRegistration
