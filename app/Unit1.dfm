object Form1: TForm1
  Left = 249
  Top = 210
  BorderIcons = [biSystemMenu, biMinimize, biMaximize]
  BorderStyle = bsSingle
  Caption = '录制声音和图像!'
  ClientHeight = 141
  ClientWidth = 404
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  Position = poScreenCenter
  OnCloseQuery = FormCloseQuery
  OnCreate = FormCreate
  PixelsPerInch = 96
  TextHeight = 13
  object Label1: TLabel
    Left = 8
    Top = 52
    Width = 54
    Height = 12
    Caption = '录制参数:'
    Font.Charset = ANSI_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
  end
  object Label2: TLabel
    Left = 8
    Top = 16
    Width = 54
    Height = 12
    Caption = '媒体来源:'
    Font.Charset = GB2312_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
  end
  object Label3: TLabel
    Left = 8
    Top = 88
    Width = 54
    Height = 12
    Caption = '存放路径:'
    Font.Charset = GB2312_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
  end
  object Label4: TLabel
    Left = 8
    Top = 120
    Width = 6
    Height = 12
    Color = clActiveCaption
    Font.Charset = ANSI_CHARSET
    Font.Color = clRed
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentColor = False
    ParentFont = False
  end
  object PFBox: TComboBox
    Left = 68
    Top = 48
    Width = 173
    Height = 20
    Style = csDropDownList
    Color = clWindow
    Font.Charset = ANSI_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ItemHeight = 12
    ParentFont = False
    TabOrder = 0
    OnChange = PFBoxChange
    Items.Strings = (
      'wmp_V80_255VideoPDA'
      'wmp_V80_150VideoPDA'
      'wmp_V80_28856VideoMBR'
      'wmp_V80_100768VideoMBR'
      'wmp_V80_288100VideoMBR'
      'wmp_V80_288Video'
      'wmp_V80_56Video'
      'wmp_V80_100Video'
      'wmp_V80_256Video'
      'wmp_V80_384Video'
      'wmp_V80_768Video'
      'wmp_V80_700NTSCVideo'
      'wmp_V80_1400NTSCVideo'
      'wmp_V80_384PALVideo'
      'wmp_V80_700PALVideo'
      'wmp_V80_288MonoAudio'
      'wmp_V80_288StereoAudio'
      'wmp_V80_32StereoAudio'
      'wmp_V80_48StereoAudio'
      'wmp_V80_64StereoAudio'
      'wmp_V80_96StereoAudio'
      'wmp_V80_128StereoAudio'
      'wmp_V80_288VideoOnly'
      'wmp_V80_56VideoOnly'
      'wmp_V80_FAIRVBRVideo'
      'wmp_V80_HIGHVBRVideo'
      'wmp_V80_BESTVBRVideo')
  end
  object Memo1: TMemo
    Left = 68
    Top = 12
    Width = 300
    Height = 21
    Color = clSkyBlue
    Font.Charset = GB2312_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
    ReadOnly = True
    TabOrder = 1
  end
  object Button1: TButton
    Left = 376
    Top = 12
    Width = 25
    Height = 21
    Caption = 'Get'
    Font.Charset = GB2312_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
    TabOrder = 2
    OnClick = Button1Click
  end
  object Memo2: TMemo
    Left = 68
    Top = 84
    Width = 300
    Height = 21
    Color = clSkyBlue
    Font.Charset = GB2312_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    Lines.Strings = (
      'C:\temp.asf')
    ParentFont = False
    TabOrder = 3
  end
  object Button2: TButton
    Left = 376
    Top = 84
    Width = 25
    Height = 21
    Caption = 'Get'
    Font.Charset = GB2312_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
    TabOrder = 4
    OnClick = Button2Click
  end
  object Button3: TButton
    Left = 248
    Top = 116
    Width = 55
    Height = 20
    Caption = '录制'
    Font.Charset = ANSI_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
    TabOrder = 5
    OnClick = Button3Click
  end
  object Button4: TButton
    Left = 312
    Top = 116
    Width = 55
    Height = 20
    Caption = '停止'
    Font.Charset = ANSI_CHARSET
    Font.Color = clWindowText
    Font.Height = -12
    Font.Name = '宋体'
    Font.Style = []
    ParentFont = False
    TabOrder = 6
    OnClick = Button4Click
  end
  object DSTrackBar1: TDSTrackBar
    Left = 60
    Top = 112
    Width = 150
    Height = 25
    Enabled = False
    TabOrder = 7
    FilterGraph = FilterGraph1
  end
  object ASFWriter1: TASFWriter
    FilterGraph = FilterGraph1
    Profile = wmp_V80_255VideoPDA
    FileName = 'C:\temp.asf'
    Port = 0
    MaxUsers = 0
  end
  object FilterGraph1: TFilterGraph
    Mode = gmCapture
    GraphEdit = True
  end
  object XPManifest1: TXPManifest
  end
  object SaveDialog: TSaveDialog
    DefaultExt = 'ASF'
    Filter = 'ASF|*.ASF'
  end
end
