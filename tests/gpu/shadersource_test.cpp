// Shader files turned into what the compiler takes, and its messages turned back.
#include <gtest/gtest.h>

#include <sstream>

#include "gpu/shadersource.h"

// The last line of the prepared text that the compiler will number n, given the #line
// directives (the host's lines between the file's may take numbers too).
static std::string LineNumbered(const std::string& prepared, int n)
{
    std::istringstream lines(prepared);
    std::string line, found;
    int number = -1;  // before the first #line: the host's own lines
    while (std::getline(lines, line))
        if (line.rfind("#line ", 0) == 0)
            number = std::stoi(line.substr(6)) - 1;
        else if (number >= 0 && ++number == n)
            found = line;
    return found;
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

// Pasted files: a byte-order mark goes, and main and declarations are found only where the
// preprocessor keeps them, never in comments.
TEST(ShaderSource, MainAndDeclarationsCountOnlyWhereThePreprocessorKeepsThem)
{
    const std::string image = "void mainImage(out vec4 c, in vec2 p) { c = vec4(iTime); }\n";
    const auto wrapped = [](const std::string& text, ShaderFacts* facts = nullptr) {
        return PrepareShaderSource(text, true, ShaderWrap::Decide, facts).find("mainImage(colour") != std::string::npos;
    };
    EXPECT_EQ(PrepareShaderSource("\xEF\xBB\xBFvoid main() {}\n", true).find('\xEF'), std::string::npos);
    EXPECT_TRUE(wrapped("// void main() {}\n/* void main() {} */\n" + image));
    EXPECT_TRUE(wrapped("#if 0\nvoid main() {}\n#endif\n" + image));
    EXPECT_TRUE(wrapped("#ifdef GL_ES\nvoid main() {}\n#endif\n" + image));
    EXPECT_FALSE(wrapped("#ifndef GL_ES\nvoid main() {}\n#endif\n" + image));
    EXPECT_FALSE(wrapped("#define STANDALONE\n#ifdef STANDALONE\nvoid main() {}\n#else\n#endif\n" + image));
    EXPECT_TRUE(wrapped("#ifdef STANDALONE\nvoid main() {}\n#endif\n" + image));
    EXPECT_TRUE(wrapped("#if 1\n#elif 1\nvoid main() {}\n#endif\n" + image));
    ShaderFacts facts;
    EXPECT_TRUE(wrapped("#if FOO > 2\nvoid main() {}\n#endif\n" + image, &facts));
    EXPECT_TRUE(facts.mainUncertain);
    EXPECT_FALSE(wrapped(image + "#ifdef GL_ES\n#else\nvoid main() {}\n#endif\n", &facts));

    const std::string commented = "// uniform vec3 iResolution;\n#if 0\nuniform vec4 iMouse;\n#endif\n" + image;
    const std::string prepared = PrepareShaderSource(commented, true);
    EXPECT_NE(prepared.find("uniform vec3 iResolution;"), std::string::npos);
    EXPECT_NE(prepared.find("uniform vec4 iMouse;"), std::string::npos);
    EXPECT_EQ(LineNumbered(prepared, 5), image.substr(0, image.size() - 1));
    // A precision qualifier stands between uniform and the type.
    EXPECT_EQ(PrepareShaderSource("uniform highp vec2 iResolution;\n" + image, true).find("vec3 iResolution"),
              std::string::npos);
}

// #extension lines stay ahead of the host's declarations, also in a condition; an ES file gets
// precision and an output of its own.
TEST(ShaderSource, ExtensionsStayFirstAndEsFilesGetWhatEsNeeds)
{
    const std::string file = "#version 300 es\n#ifdef GL_ES\n#extension GL_OES_standard_derivatives : enable\n#endif\n"
                             "#extension GL_EXT_shader_texture_lod : enable\nvoid mainImage(out vec4 c, in vec2 p) {\n"
                             "  c = vec4(1.0);\n}\n";
    ShaderFacts facts;
    const std::string prepared = PrepareShaderSource(file, true, ShaderWrap::Decide, &facts);
    EXPECT_TRUE(facts.es);
    EXPECT_LT(prepared.find("GL_EXT_shader_texture_lod"), prepared.find("precision highp float;"));
    EXPECT_LT(prepared.find("precision highp float;"), prepared.find("uniform vec3 iResolution;"));
    EXPECT_NE(prepared.find("quillmereFragColor = colour;"), std::string::npos);
    EXPECT_EQ(LineNumbered(prepared, 3), "#extension GL_OES_standard_derivatives : enable");
    EXPECT_EQ(LineNumbered(prepared, 7), "  c = vec4(1.0);");
    // A prefix (an import's Common) is numbered as source 1, the file as source 0 after it.
    const ShaderPrefix common{"float twice(float x) { return 2.0 * x; }", 1};
    const std::string withCommon = PrepareShaderSource("void mainImage(out vec4 c, in vec2 p) { c = vec4(twice(0.25)); }\n",
                                                       true, ShaderWrap::Decide, nullptr, &common);
    EXPECT_NE(withCommon.find("#line 1 1\nfloat twice"), std::string::npos);
    EXPECT_LT(withCommon.find("float twice"), withCommon.find("#line 1\nvoid mainImage"));
    EXPECT_EQ(TranslateShaderLog("1:2(3): error: a\n0:4(1): error: b\n7:1(1): error: c\n", std::vector<std::string>{"Buffer A", "Common"}),
              "Common:2: error: a\nBuffer A:4: error: b\nCommon:1: error: c\n");
}
