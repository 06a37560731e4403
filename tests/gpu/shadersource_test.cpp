// Shader files turned into what the compiler takes, and its messages turned back.
#include <gtest/gtest.h>

#include <sstream>

#include "gpu/shadersource.h"

// The line of the prepared text that the compiler will number n, given the #line directives.
static std::string LineNumbered(const std::string& prepared, int n)
{
    std::istringstream lines(prepared);
    std::string line;
    int number = -1;  // before the first #line: the host's own lines
    while (std::getline(lines, line))
        if (line.rfind("#line ", 0) == 0)
            number = std::stoi(line.substr(6)) - 1;
        else if (number >= 0 && ++number == n)
            return line;
    return "";
}

TEST(ShaderSource, AFileWithoutVersionGetsTheCompatibilityOneAndKeepsItsLineNumbers)
{
    const std::string prepared = PrepareShaderSource("void main() {\n  gl_FragColor = gl_Color;\n}\n", true);
    EXPECT_EQ(prepared.rfind("#version 330 compatibility\n", 0), 0u);
    EXPECT_EQ(LineNumbered(prepared, 2), "  gl_FragColor = gl_Color;");
    EXPECT_EQ(prepared.find("iResolution"), std::string::npos);  // it has its own main
}

TEST(ShaderSource, AFileWithVersionKeepsItFirstWithCommentsAbove)
{
    const std::string file = "// plasma\n#version 450\nuniform float t;\nvoid main() {}\n";
    const std::string prepared = PrepareShaderSource(file, true);
    EXPECT_EQ(prepared.rfind("// plasma\n#version 450\n", 0), 0u);
    EXPECT_EQ(prepared.find("compatibility"), std::string::npos);
    EXPECT_EQ(LineNumbered(prepared, 3), "uniform float t;");
}

TEST(ShaderSource, BeforeGlsl330TheLineDirectiveCountsFromTheLineAfter)
{
    for (const char* version : {"#version 120", "#version 150 compatibility", "#version 100"}) {
        const std::string prepared = PrepareShaderSource(std::string(version) + "\nvoid main() {}\n", true);
        EXPECT_NE(prepared.find("\n#line 1\nvoid main"), std::string::npos) << version;
    }
    for (const char* version : {"#version 330", "#version 300 es", "#version 450 core"})
        EXPECT_NE(PrepareShaderSource(std::string(version) + "\nvoid main() {}\n", true).find("\n#line 2\nvoid main"),
                  std::string::npos) << version;
}

TEST(ShaderSource, MainImageGetsTheUniformsItDoesNotDeclareAndAMain)
{
    const std::string file = "uniform   float iTime;\nvoid mainImage( out vec4 c, in vec2 p ) {\n  c = vec4(iTime);\n}\n";
    const std::string prepared = PrepareShaderSource(file, true);
    EXPECT_NE(prepared.find("uniform vec3 iResolution;"), std::string::npos);
    EXPECT_NE(prepared.find("uniform sampler2D iChannel3;"), std::string::npos);
    EXPECT_EQ(prepared.find("uniform float iTime;"), std::string::npos);  // declared by the file
    EXPECT_NE(prepared.find("mainImage(colour, gl_FragCoord.xy)"), std::string::npos);
    EXPECT_EQ(LineNumbered(prepared, 3), "  c = vec4(iTime);");
    // Not in a vertex file, and not when the file has its own main.
    EXPECT_EQ(PrepareShaderSource(file, false).find("iResolution"), std::string::npos);
    EXPECT_EQ(PrepareShaderSource(file + "void main() {}\n", true).find("iResolution"), std::string::npos);
    // A name that only begins the same is no declaration.
    EXPECT_NE(PrepareShaderSource("uniform float iTimeScale;\nvoid mainImage(out vec4 c, in vec2 p) {}\n", true)
                  .find("uniform float iTime;"),
              std::string::npos);
}

// Text of any length or shape is scanned in steps: no recursion per character, no number too
// large to read.
TEST(ShaderSource, TextOfAnyShapeIsPreparedAndItsLogTranslated)
{
    const std::string blanks = "void" + std::string(30000, ' ') + "mainImage(out vec4 c, in vec2 p) { c = vec4(1.0); }\n";
    EXPECT_NE(PrepareShaderSource(blanks, true).find("mainImage(colour, gl_FragCoord.xy)"), std::string::npos);
    const std::string huge = PrepareShaderSource("#version 33000000000\nvoid main() {}\n", true);
    EXPECT_EQ(huge.rfind("#version 33000000000\n#line 2\nvoid main", 0), 0u);
    const std::string longLine = "0:3(1): error: " + std::string(100000, 'x') + "\n";
    EXPECT_EQ(TranslateShaderLog(longLine, "a.frag"), "a.frag:3: error: " + std::string(100000, 'x') + "\n");
    EXPECT_EQ(TranslateShaderLog("0:99999999999999999999(1): error: far\n1:(2): x\n", "a.frag"),
              "a.frag:99999999999999999999: error: far\na.frag: 1:(2): x\n");
}

TEST(ShaderSource, MesaMessagesGetTheFilesNameAndLine)
{
    const std::string log = "0:12(3): error: `foo' undeclared\r\n\n0:7(1): warning: unused\nerror: linking failed  \n";
    EXPECT_EQ(TranslateShaderLog(log, "tunnel.frag"),
              "tunnel.frag:12: error: `foo' undeclared\ntunnel.frag:7: warning: unused\n"
              "tunnel.frag: error: linking failed\n");
    EXPECT_EQ(TranslateShaderLog("", "a.frag"), "");
}
